// Proves that the capture thread's packet work reuses its buffers: once they have grown
// to a packet size, a packet of that size or smaller allocates only what the pending
// queue itself needs for the samples it gains. Global operator new is replaced to count
// allocations, so this test has an executable of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <new>
#include <vector>

#include "audio/packet_processor.h"
#include "core/settings.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

// GCC takes the replacement pair for a mismatch of new and free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
#pragma GCC diagnostic pop
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }

namespace {

struct Packet {
    WAVEFORMATEXTENSIBLE format{};
    std::vector<std::uint8_t> bytes;
    std::uint32_t frames;
};

Packet MakePacket(WORD tag, WORD bits, WORD channels, DWORD rate, std::uint32_t frames) {
    Packet p;
    p.format.Format.wFormatTag = tag;
    p.format.Format.wBitsPerSample = bits;
    p.format.Format.nChannels = channels;
    p.format.Format.nSamplesPerSec = rate;
    p.frames = frames;
    p.bytes.assign(std::size_t{frames} * channels * bits / 8, 0x21);
    return p;
}

template <typename Step>
long AllocationsOf(Step step) {
    const long before = g_allocations.load();
    step();
    return g_allocations.load() - before;
}

// Allocations of one packet beyond those of a twin queue that gains the same samples.
long AllocationsBeyondQueue(PacketProcessor& processor, CaptureContext& context, std::deque<std::int16_t>& twin,
                            const Packet& packet, std::uint32_t frames) {
    const std::size_t queued = context.pendingSamples.size();
    const long all = AllocationsOf([&] { ProcessCapturePacket(processor, context, packet.bytes.data(), frames, 0); });
    const std::size_t gained = context.pendingSamples.size() - queued;
    return all - AllocationsOf([&] { twin.insert(twin.end(), gained, std::int16_t{0}); });
}

TEST(PacketAllocations, SteadyStateAllocatesOnlyForTheQueue) {
    Packet packets[] = {
        MakePacket(WAVE_FORMAT_IEEE_FLOAT, 32, 2, 48000, 480),
        MakePacket(WAVE_FORMAT_PCM, 16, 2, 44100, 441),
        MakePacket(WAVE_FORMAT_PCM, 24, 1, 8000, 80),
    };
    g_chunkSeconds = kMaxChunkSeconds;  // no cut within the test
    for (Packet& packet : packets) {
        CaptureContext context;
        context.mixFormat = &packet.format.Format;
        std::deque<std::int16_t> twin;
        PacketProcessor processor([](std::vector<std::int16_t>&&, const std::string&, CaptureTime) {});
        EXPECT_GT(AllocationsBeyondQueue(processor, context, twin, packet, packet.frames), 0)
            << "the counter sees the first growth";
        EXPECT_EQ(AllocationsBeyondQueue(processor, context, twin, packet, packet.frames), 0)
            << packet.format.Format.nSamplesPerSec;
        EXPECT_EQ(AllocationsBeyondQueue(processor, context, twin, packet, packet.frames / 2), 0)
            << "a smaller packet reuses the buffers";
        EXPECT_EQ(AllocationsBeyondQueue(processor, context, twin, packet, packet.frames), 0)
            << "regrowth within capacity";
        EXPECT_FALSE(context.pendingSamples.empty());
    }
    g_chunkSeconds = kDefaultChunkSeconds;
}

}  // namespace
