// Chunk cutting, with cut chunks recorded instead of sent (workers are tested on
// their own).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/settings.h"
#include "audio/conditioning.h"
#include "audio/packet_processor.h"
#include "tests/support/chunk_recorder.h"
#include "tests/support/mix_formats.h"

namespace {

class PacketProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        TakeRecordedChunks();
        g_chunkSeconds = 1;
        g_language.Set("zh");
    }
    void TearDown() override {
        g_chunkSeconds = kDefaultChunkSeconds;
        g_language.Set("zh");
    }

    // Feeds `frames` frames of 16-bit mono 16 kHz audio whose samples count up from `first`.
    void FeedMono16k(PacketProcessor& processor, std::uint32_t frames, int first = 0) {
        std::vector<std::int16_t> data(frames);
        for (std::uint32_t i = 0; i < frames; ++i) data[i] = static_cast<std::int16_t>((first + i) % 20000);
        ProcessCapturePacket(processor, context_, reinterpret_cast<const std::uint8_t*>(data.data()), frames, 0);
    }

    // Every chunk cut so far in this test, oldest first.
    const std::vector<RecordedChunk>& Cut() {
        for (auto& chunk : TakeRecordedChunks()) cut_.push_back(std::move(chunk));
        return cut_;
    }

    WAVEFORMATEX mono16k_ = MakePcmFormat(16000, 1, 16);
    CaptureContext context_;
    std::vector<RecordedChunk> cut_;

public:
    PacketProcessorTest() { context_.mixFormat = &mono16k_; }
};

TEST_F(PacketProcessorTest, CutsAtExactChunkBoundaries) {
    PacketProcessor processor(RecordChunk);
    ASSERT_EQ(processor.chunkLength, 16000);
    for (int packet = 1; packet <= 200; ++packet) {
        FeedMono16k(processor, 160, (packet - 1) * 160);
        const std::size_t expected = packet < 100 ? 0 : packet < 200 ? 1 : 2;
        ASSERT_EQ(Cut().size(), expected) << "after packet " << packet;
    }
    EXPECT_TRUE(context_.pendingSamples.empty());
    ASSERT_EQ(Cut().size(), 2u);
    for (const auto& chunk : Cut()) EXPECT_EQ(chunk.samples.size(), 16000u);
}

TEST_F(PacketProcessorTest, KeepsThePastTheBoundaryRemainderAndCutsSeveralFromOnePacket) {
    PacketProcessor processor(RecordChunk);
    FeedMono16k(processor, 15990);
    EXPECT_TRUE(Cut().empty());
    FeedMono16k(processor, 160);
    ASSERT_EQ(Cut().size(), 1u);
    EXPECT_EQ(context_.pendingSamples.size(), 150u);

    Cut();
    cut_.clear();
    context_.pendingSamples.clear();
    FeedMono16k(processor, 2 * 16000 + 5);
    ASSERT_EQ(Cut().size(), 2u);
    EXPECT_EQ(context_.pendingSamples.size(), 5u);
}

TEST_F(PacketProcessorTest, NoSampleIsLostOrDoubledAcrossChunksAndRecordings) {
    // The reference stream: the same packets conditioned directly.
    const WAVEFORMATEX stereo48k = MakeFloatFormat(48000, 2);
    std::vector<std::int16_t> reference;
    std::vector<float> device, mono, resampled;
    std::vector<std::int16_t> quantised;
    std::vector<std::vector<float>> packets;
    for (int p = 0; p < 800; ++p) {
        std::vector<float> packet(448 * 2);
        for (std::size_t i = 0; i < packet.size(); ++i)
            packet[i] = 0.5f * std::sin(0.001f * static_cast<float>(p * 896 + static_cast<int>(i)));
        DownmixToMono(packet.data(), 448, 2, mono);
        ResampleTo16k(mono.data(), static_cast<int>(mono.size()), 48000, resampled);
        FloatToInt16(resampled.data(), static_cast<int>(resampled.size()), quantised);
        reference.insert(reference.end(), quantised.begin(), quantised.end());
        packets.push_back(std::move(packet));
    }

    context_.mixFormat = const_cast<WAVEFORMATEX*>(&stereo48k);
    g_chunkSeconds = 7;
    // Two recordings: the remainder of the first one leads the second one's first chunk.
    for (int run = 0; run < 2; ++run) {
        PacketProcessor processor(RecordChunk);
        for (int p = run * 400; p < (run + 1) * 400; ++p) {
            ProcessCapturePacket(processor, context_, reinterpret_cast<const std::uint8_t*>(packets[p].data()), 448,
                                 0);
        }
    }
    // 800 packets of 149 samples each: 119200 samples, one 7 s chunk and 7200 left.
    ASSERT_EQ(reference.size(), 800u * 149u);
    ASSERT_EQ(Cut().size(), 1u);
    std::vector<std::int16_t> rebuilt = Cut()[0].samples;
    rebuilt.insert(rebuilt.end(), context_.pendingSamples.begin(), context_.pendingSamples.end());
    EXPECT_EQ(rebuilt, reference);
}

TEST_F(PacketProcessorTest, ShorterChunkAfterStopCutsTheLeftoverInOrder) {
    g_chunkSeconds = 30;
    {
        PacketProcessor processor(RecordChunk);
        FeedMono16k(processor, 29 * 16000);
    }
    ASSERT_TRUE(Cut().empty());
    const std::vector<std::int16_t> leftover(context_.pendingSamples.begin(), context_.pendingSamples.end());

    g_chunkSeconds = 1;
    PacketProcessor processor(RecordChunk);
    int cutNumber = 0;
    g_language.Set("en");
    FeedMono16k(processor, 10);
    ASSERT_EQ(Cut().size(), 29u);
    for (const auto& chunk : Cut()) {
        ASSERT_EQ(chunk.samples.size(), 16000u);
        EXPECT_TRUE(std::equal(chunk.samples.begin(), chunk.samples.end(), leftover.begin() + cutNumber * 16000));
        EXPECT_EQ(chunk.language, "en");
        ++cutNumber;
    }
    EXPECT_EQ(context_.pendingSamples.size(), 10u);
}

TEST_F(PacketProcessorTest, LanguageIsTheOneInForceAtTheCut) {
    PacketProcessor processor(RecordChunk);
    FeedMono16k(processor, 15000);  // captured while "zh" was selected
    g_language.Set("auto");
    FeedMono16k(processor, 1000);
    g_language.Set("en");
    FeedMono16k(processor, 16000);
    ASSERT_EQ(Cut().size(), 2u);
    EXPECT_EQ(Cut()[0].language, "auto");
    EXPECT_EQ(Cut()[1].language, "en");
}

TEST_F(PacketProcessorTest, SilentAndEmptyPackets) {
    const WAVEFORMATEX stereo48k = MakeFloatFormat(48000, 2);
    context_.mixFormat = const_cast<WAVEFORMATEX*>(&stereo48k);
    PacketProcessor processor(RecordChunk);
    std::vector<float> loud(480 * 2, 1.0f);

    g_levelDb = -50.0f;
    ProcessCapturePacket(processor, context_, nullptr, 0, 0);
    EXPECT_EQ(g_levelDb.load(), -50.0f);
    EXPECT_TRUE(context_.pendingSamples.empty());

    // Silent: the bytes are not read (full-scale data here), zeros are queued.
    ProcessCapturePacket(processor, context_, reinterpret_cast<const std::uint8_t*>(loud.data()), 480,
                         kBufferFlagSilent);
    ASSERT_EQ(context_.pendingSamples.size(), 160u);
    for (auto s : context_.pendingSamples) ASSERT_EQ(s, 0);
    EXPECT_LT(g_levelDb.load(), -50.0f);

    // Discontinuity and timestamp-error flags do not change the processing.
    ProcessCapturePacket(processor, context_, reinterpret_cast<const std::uint8_t*>(loud.data()), 480, 0x1 | 0x4);
    ASSERT_EQ(context_.pendingSamples.size(), 320u);
    EXPECT_EQ(context_.pendingSamples.back(), 32767);
}

// 10 ms packets on a wall clock that the test moves: each chunk carries the time at
// which its first sample was captured, across drained batches, a jump and a new recording.
TEST_F(PacketProcessorTest, ChunksCarryTheCaptureTimeOfTheirFirstSample) {
    using std::chrono::milliseconds;
    const CaptureTime t0 = CaptureTime() + std::chrono::hours(500000);
    CaptureTime now = t0;
    struct Step {
        const char* what;
        int packets;          // fed one after another
        int batch;            // the clock stands still across this many packets (drained together)
        milliseconds before;  // the clock moves this far before the step
    };
    const Step steps[] = {
        {"1.5 s in batches of 3", 150, 3, milliseconds(0)},
        {"0.6 s after a 2 s gap in the stream", 60, 1, milliseconds(2000)},
    };
    PacketProcessor first(RecordChunk, [&] { return now; });
    for (const Step& step : steps) {
        now += step.before;
        for (int p = 0; p < step.packets; ++p) {
            if (p % step.batch == 0) now += milliseconds(10 * step.batch);
            FeedMono16k(first, 160);
        }
    }
    // A new recording a minute later: the remainder (0.1 s) opens its first chunk.
    now += std::chrono::minutes(1);
    PacketProcessor second(RecordChunk, [&] { return now; });
    for (int p = 0; p < 200; ++p) {
        now += milliseconds(10);
        FeedMono16k(second, 160);
    }
    const CaptureTime secondStart = now - milliseconds(2000);
    // Chunk 1 starts 1 s into the first run; chunk 2, the first recording's remainder,
    // 0.5 s into the run after the gap, which began at 3.5 s.
    const std::vector<CaptureTime> expected = {t0, t0 + milliseconds(1000), t0 + milliseconds(4000),
                                               secondStart + milliseconds(900)};
    ASSERT_EQ(Cut().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto error = std::chrono::duration_cast<milliseconds>(Cut()[i].firstSample - expected[i]).count();
        EXPECT_LE(std::abs(error), 20) << "chunk " << i << " is " << error << " ms off";
    }
}

TEST_F(PacketProcessorTest, ChunkLengthIsFixedWhenTheProcessorIsCreated) {
    g_chunkSeconds = 2;
    PacketProcessor processor(RecordChunk);
    g_chunkSeconds = 1;
    FeedMono16k(processor, 16000);
    EXPECT_TRUE(Cut().empty());
    FeedMono16k(processor, 16000);
    EXPECT_EQ(Cut().size(), 1u);

    g_chunkSeconds = 0;  // never set by the window, but must not hang the cut loop
    PacketProcessor guarded(RecordChunk);
    EXPECT_EQ(guarded.chunkLength, 16000);
}

}  // namespace
