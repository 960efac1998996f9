// A chunk sink for tests: records cut chunks instead of starting workers.
//   PacketProcessor processor(RecordChunk);
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "transcribe/transcript.h"

struct RecordedChunk {
    std::vector<std::int16_t> samples;
    std::string language;
    CaptureTime firstSample;
};

void RecordChunk(std::vector<std::int16_t>&& samples, const std::string& language, CaptureTime firstSample);

// Every chunk handed to RecordChunk since the last call, oldest first.
std::vector<RecordedChunk> TakeRecordedChunks();
