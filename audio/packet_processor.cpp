#include "audio/packet_processor.h"

#include <algorithm>
#include <string>
#include <utility>

#include "core/settings.h"
#include "audio/conditioning.h"
#include "transcribe/chunk_job.h"

namespace {
constexpr std::int32_t kSamplesPerSecond = 16000;

// Moves whole chunks from the front of the queue to the sink, oldest first.
void CutChunks(const PacketProcessor& processor, CaptureContext& context) {
    std::deque<std::int16_t>& pending = context.pendingSamples;
    while (static_cast<std::int32_t>(pending.size()) >= processor.chunkLength) {
        const auto end = pending.begin() + processor.chunkLength;
        std::vector<std::int16_t> chunk(pending.begin(), end);
        pending.erase(pending.begin(), end);
        const CaptureTime firstSample = context.pendingTimes.Cut(chunk.size());
        processor.sink(std::move(chunk), g_language.Get(), firstSample);
    }
}
}  // namespace

// The window thread keeps g_chunkSeconds within its limits; clamping here as well keeps
// a zero length from ever turning the cut loop into an endless one.
PacketProcessor::PacketProcessor(ChunkSink chunkSink, CaptureClock captureClock)
    : chunkLength(std::clamp(g_chunkSeconds.load(), kMinChunkSeconds, kMaxChunkSeconds) * kSamplesPerSecond),
      sink(std::move(chunkSink)),
      clock(std::move(captureClock)) {}

PacketProcessor::PacketProcessor() : PacketProcessor(LaunchChunkJob) {}

void ProcessCapturePacket(PacketProcessor& processor, CaptureContext& context, const std::uint8_t* data,
                          std::uint32_t frames, std::uint32_t flags) {
    if (context.mixFormat == nullptr) return;
    const WAVEFORMATEX& format = *context.mixFormat;
    const int channels = format.nChannels;
    const int rate = static_cast<int>(format.nSamplesPerSec);

    if (flags & kBufferFlagSilent) {
        processor.deviceFloats.assign(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels), 0.0f);
    } else {
        ConvertToFloat(data, frames, channels, format, processor.deviceFloats);
    }
    DownmixToMono(processor.deviceFloats.data(), static_cast<int>(frames), channels, processor.monoFloats);
    UpdateLevelMeter(processor.monoFloats.data(), static_cast<int>(processor.monoFloats.size()));
    ResampleTo16k(processor.monoFloats.data(), static_cast<int>(processor.monoFloats.size()), rate,
                  processor.floats16k);
    FloatToInt16(processor.floats16k.data(), static_cast<int>(processor.floats16k.size()), processor.samples16k);

    // The packet is at hand once its last frame is captured.
    const auto packetDuration = std::chrono::microseconds(rate > 0 ? std::int64_t{frames} * 1000000 / rate : 0);
    context.pendingTimes.Append(context.pendingSamples.size(), processor.clock() - packetDuration,
                                !processor.runStarted);
    processor.runStarted = true;
    context.pendingSamples.insert(context.pendingSamples.end(), processor.samples16k.begin(),
                                  processor.samples16k.end());
    CutChunks(processor, context);
}
