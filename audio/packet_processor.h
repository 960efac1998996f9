// Per-packet work of the capture thread: condition, measure, queue, cut chunks.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/capture_context.h"

// AUDCLNT_BUFFERFLAGS_SILENT: the packet's bytes are to be taken as silence.
constexpr std::uint32_t kBufferFlagSilent = 0x2;

struct PacketProcessor {
    PacketProcessor();  // takes the chunk length from g_chunkSeconds, once

    std::int32_t chunkLength;  // 16 kHz samples per chunk
    std::vector<float> deviceFloats;
    std::vector<float> monoFloats;
    std::vector<float> floats16k;
    std::vector<std::int16_t> samples16k;
};

void ProcessCapturePacket(PacketProcessor& processor, CaptureContext& context, const std::uint8_t* data,
                          std::uint32_t frames, std::uint32_t flags);
