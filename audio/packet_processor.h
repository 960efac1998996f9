// Per-packet work of the capture thread: condition, measure, queue, cut chunks.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/capture_context.h"

// AUDCLNT_BUFFERFLAGS_SILENT: the packet's bytes are to be taken as silence.
constexpr std::uint32_t kBufferFlagSilent = 0x2;

// Receives each cut chunk with the language at the cut and the time its first sample was
// captured. The program's sink is LaunchChunkJob; tests record the chunks instead.
using ChunkSink =
    std::function<void(std::vector<std::int16_t>&& samples, const std::string& language, CaptureTime firstSample)>;
// The wall clock, asked once per packet.
using CaptureClock = std::function<CaptureTime()>;

struct PacketProcessor {
    // Both take the chunk length from g_chunkSeconds, once. The capture thread's
    // processor hands its chunks to LaunchChunkJob.
    PacketProcessor();
    explicit PacketProcessor(ChunkSink chunkSink, CaptureClock captureClock = [] { return std::chrono::system_clock::now(); });

    std::int32_t chunkLength;  // 16 kHz samples per chunk
    ChunkSink sink;
    CaptureClock clock;
    bool runStarted = false;  // a packet of this run was queued: the runs of two recordings stay apart
    std::vector<float> deviceFloats;
    std::vector<float> monoFloats;
    std::vector<float> floats16k;
    std::vector<std::int16_t> samples16k;
};

void ProcessCapturePacket(PacketProcessor& processor, CaptureContext& context, const std::uint8_t* data,
                          std::uint32_t frames, std::uint32_t flags);
