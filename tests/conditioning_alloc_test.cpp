// Proves that the conditioning chain reuses its buffers: once they have grown to a
// packet size, packets of that size or smaller allocate nothing. Global operator new
// is replaced to count allocations, so this test has an executable of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "tests/support/conditioning_chain.h"

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

long AllocationsToRun(ConditioningChain& chain, const Packet& packet, std::uint32_t frames) {
    const long before = g_allocations.load();
    chain.Run(packet.bytes.data(), frames, packet.format.Format);
    return g_allocations.load() - before;
}

TEST(ConditioningAllocations, SteadyStateAllocatesNothing) {
    const Packet packets[] = {
        MakePacket(WAVE_FORMAT_IEEE_FLOAT, 32, 2, 48000, 480),
        MakePacket(WAVE_FORMAT_PCM, 16, 2, 44100, 441),
        MakePacket(WAVE_FORMAT_PCM, 24, 1, 8000, 80),
    };
    for (const Packet& packet : packets) {
        ConditioningChain chain;
        EXPECT_GT(AllocationsToRun(chain, packet, packet.frames), 0) << "the counter sees the first growth";
        EXPECT_EQ(AllocationsToRun(chain, packet, packet.frames), 0) << packet.format.Format.nSamplesPerSec;
        EXPECT_EQ(AllocationsToRun(chain, packet, packet.frames / 2), 0) << "a smaller packet reuses the buffers";
        EXPECT_EQ(AllocationsToRun(chain, packet, packet.frames), 0) << "regrowth within capacity";
        EXPECT_FALSE(chain.samples16k.empty());
    }
}

}  // namespace
