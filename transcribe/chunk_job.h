// One worker thread per cut chunk: encode, upload, log the outcome. Workers stay
// registered until the application closes and joins them all.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transcribe/transcript.h"

struct ChunkJob {
    std::vector<std::int16_t> samples;  // 16 kHz mono, capture order
    std::string language;               // g_language at the cut
    TranscriptLine transcriptLine;      // the chunk's line in the recording's transcript, if one is kept

    ChunkJob(std::vector<std::int16_t>&& chunkSamples, const std::string& chunkLanguage,
             TranscriptLine line = TranscriptLine());
    ChunkJob(ChunkJob&&) = default;
    ChunkJob& operator=(ChunkJob&&) = default;
    ChunkJob(const ChunkJob&) = delete;
    ChunkJob& operator=(const ChunkJob&) = delete;

    void operator()();
};

extern std::atomic<bool> g_isShuttingDown;
extern std::vector<std::thread> g_workers;
extern std::mutex g_workersMutex;

// `firstSample`: when the chunk's first sample was captured, for its transcript line.
void LaunchChunkJob(std::vector<std::int16_t>&& samples, const std::string& language,
                    CaptureTime firstSample = CaptureTime());
void RunChunkJob(ChunkJob& job);
void JoinAllWorkers();

// Seams for tests: null in the program. Each is called where a close that begins just
// then must still be caught.
extern void (*g_seamAfterWorkerStart)();  // LaunchChunkJob: thread started, not yet registered
extern void (*g_seamAfterEncoding)();     // RunChunkJob: encoded, shutdown not yet tested again
