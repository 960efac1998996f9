#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/mp3_decode.h"
#include "tests/support/signal_compare.h"
#include "tests/support/test_signal.h"
#include "transcribe/mp3_encoder.h"

namespace {

constexpr std::size_t kSamplesPerFrame = 576;  // MPEG-2 Layer III
constexpr std::size_t kSecond = 16000;

std::vector<std::uint8_t> Encode(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> mp3;
    EXPECT_TRUE(EncodeMp3(samples.data(), static_cast<std::int32_t>(samples.size()), mp3));
    return mp3;
}

std::size_t WorstCaseBytes(std::size_t count) { return count + count / 4 + 7200; }

// One MPEG-2 Layer III frame header, as far as the tests need it.
struct FrameHeader {
    bool valid = false;
    bool mpeg2Layer3 = false;
    bool mono = false;
    int bitrateKbps = 0;
    int sampleRate = 0;
    std::size_t bytes = 0;
};

FrameHeader ParseHeader(const std::uint8_t* p) {
    static const int kBitrates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int kRates[4] = {22050, 24000, 16000, 0};
    FrameHeader header;
    header.valid = p[0] == 0xFF && (p[1] & 0xE0) == 0xE0;
    header.mpeg2Layer3 = (p[1] & 0x1E) == 0x12;  // version bits 10, layer bits 01
    header.bitrateKbps = kBitrates[p[2] >> 4];
    header.sampleRate = kRates[(p[2] >> 2) & 0x3];
    header.mono = (p[3] >> 6) == 0x3;
    if (header.valid && header.mpeg2Layer3 && header.bitrateKbps > 0 && header.sampleRate > 0) {
        const std::size_t padding = (p[2] >> 1) & 0x1;
        header.bytes = 72 * 1000 * static_cast<std::size_t>(header.bitrateKbps) /
                       static_cast<std::size_t>(header.sampleRate) + padding;
    }
    return header;
}

// Walks the stream frame by frame from its first byte; every header must be a
// 16 kHz mono 64 kbit/s MPEG-2 Layer III one. Returns the bytes covered by whole frames.
std::size_t BytesInWholeFrames(const std::vector<std::uint8_t>& mp3, std::size_t& frames) {
    std::size_t at = 0;
    frames = 0;
    while (at + 4 <= mp3.size()) {
        const FrameHeader header = ParseHeader(&mp3[at]);
        if (!header.valid || !header.mpeg2Layer3 || !header.mono || header.bitrateKbps != 64 ||
            header.sampleRate != 16000 || header.bytes == 0 || at + header.bytes > mp3.size()) {
            break;
        }
        at += header.bytes;
        ++frames;
    }
    return at;
}

// Decodes `mp3` on its own and checks it carries `input`: 16 kHz mono MPEG-2 Layer III,
// the input's length plus the coder's delay and padding, and the waveform itself.
void ExpectCarries(const std::vector<std::int16_t>& input, const std::vector<std::uint8_t>& mp3) {
    DecodedMp3 decoded;
    std::string error;
    ASSERT_TRUE(DecodeMp3(mp3, decoded, error)) << error;
    EXPECT_EQ(decoded.streamRate, 16000);
    EXPECT_EQ(decoded.streamChannels, 1);
    EXPECT_EQ(decoded.mpegVersion, 2.0);
    EXPECT_EQ(decoded.layer, 3);
    EXPECT_EQ(decoded.bitrateKbps, 64);
    EXPECT_EQ(decoded.samples.size(), decoded.frames * kSamplesPerFrame);

    const std::size_t delay = FindDelay(input, decoded.samples, 4 * kSamplesPerFrame);
    EXPECT_GT(delay, 0u) << "a transform coder always delays";
    // Everything arrives, and the padding behind it is less than two frames.
    EXPECT_GE(decoded.samples.size(), input.size() + delay);
    EXPECT_LT(decoded.samples.size(), input.size() + delay + 2 * kSamplesPerFrame);
    EXPECT_GT(SnrDb(input, decoded.samples, delay), 15.0);
}

TEST(Mp3Encoder, ChunkDecodesAsSixteenKilohertzMonoWithItsWaveform) {
    const auto input = test_signal::SpeechLike(kSecond, 1);
    ExpectCarries(input, Encode(input));
}

TEST(Mp3Encoder, ToneKeepsFrequencyAndLevel) {
    const auto input = test_signal::Tone(1000.0, 0.5, kSecond);
    DecodedMp3 decoded;
    std::string error;
    ASSERT_TRUE(DecodeMp3(Encode(input), decoded, error)) << error;
    ASSERT_GE(decoded.samples.size(), input.size());
    // Well clear of the start-up delay and the end of the tone.
    const std::int16_t* steady = decoded.samples.data() + kSecond / 4;
    const std::size_t span = kSecond / 2;
    EXPECT_NEAR(ToneFrequencyHz(steady, span, 16000.0), 1000.0, 1.0);
    EXPECT_NEAR(RmsDbfs(steady, span), RmsDbfs(input.data() + kSecond / 4, span), 1.0);
}

TEST(Mp3Encoder, StreamIsWholeFramesWithinTheWorstCaseSize) {
    for (const std::size_t count : {std::size_t{1}, kSamplesPerFrame, kSecond + 123, 7 * kSecond}) {
        SCOPED_TRACE("count " + std::to_string(count));
        const auto input = test_signal::SpeechLike(count, 2);
        const auto mp3 = Encode(input);
        EXPECT_LE(mp3.size(), WorstCaseBytes(count));

        // Exactly the encoded and flushed frames: nothing of the worst-case buffer behind them.
        std::size_t frames = 0;
        EXPECT_EQ(BytesInWholeFrames(mp3, frames), mp3.size());
        EXPECT_GE(frames * kSamplesPerFrame, count);

        // No reserved tag frame at the head: the first frame carries audio side information.
        ASSERT_GT(frames, 0u);
        const auto body = mp3.begin() + 4;
        const auto bodyEnd = mp3.begin() + static_cast<std::ptrdiff_t>(ParseHeader(mp3.data()).bytes);
        EXPECT_TRUE(std::any_of(body, bodyEnd, [](std::uint8_t b) { return b != 0; }));
        EXPECT_EQ(std::search(mp3.begin(), bodyEnd, "Xing", "Xing" + 4), bodyEnd);
        EXPECT_EQ(std::search(mp3.begin(), bodyEnd, "Info", "Info" + 4), bodyEnd);

        DecodedMp3 decoded;
        std::string error;
        ASSERT_TRUE(DecodeMp3(mp3, decoded, error)) << error;
        EXPECT_EQ(decoded.frames, frames);
    }
}

TEST(Mp3Encoder, DefaultChunkLengthIsCarriedWhole) {
    const auto input = test_signal::SpeechLike(7 * kSecond, 3);
    ExpectCarries(input, Encode(input));
}

TEST(Mp3Encoder, ConsecutiveChunksDecodeEachOnItsOwn) {
    const auto signal = test_signal::SpeechLike(3 * kSecond, 4);
    for (std::size_t start = 0; start < signal.size(); start += kSecond) {
        SCOPED_TRACE("chunk at " + std::to_string(start));
        const std::vector<std::int16_t> chunk(signal.begin() + static_cast<std::ptrdiff_t>(start),
                                              signal.begin() + static_cast<std::ptrdiff_t>(start + kSecond));
        ExpectCarries(chunk, Encode(chunk));
    }
}

TEST(Mp3Encoder, RejectsInvalidArgumentsAndLeavesOutputAlone) {
    const std::vector<std::uint8_t> before = {0xAB, 0xCD, 0xEF};
    const auto input = test_signal::SpeechLike(kSecond, 5);
    struct Case {
        const std::int16_t* samples;
        std::int32_t count;
    };
    for (const Case& c : {Case{nullptr, 16000}, Case{nullptr, 0}, Case{input.data(), 0}, Case{input.data(), -1},
                          Case{input.data(), std::numeric_limits<std::int32_t>::min()}}) {
        SCOPED_TRACE("count " + std::to_string(c.count) + (c.samples ? "" : ", null samples"));
        std::vector<std::uint8_t> out = before;
        EXPECT_FALSE(EncodeMp3(c.samples, c.count, out));
        EXPECT_EQ(out, before);
    }
}

TEST(Mp3Encoder, ReplacesWhatTheBufferHeld) {
    const auto input = test_signal::SpeechLike(kSecond, 6);
    const auto fresh = Encode(input);
    std::vector<std::uint8_t> reused(2 * WorstCaseBytes(input.size()), 0x5A);
    ASSERT_TRUE(EncodeMp3(input.data(), static_cast<std::int32_t>(input.size()), reused));
    EXPECT_EQ(reused, fresh);
}

TEST(Mp3Encoder, SimultaneousChunksGiveTheSameBytesAsSequentialOnes) {
    const auto first = test_signal::SpeechLike(kSecond, 7);
    const auto second = test_signal::SpeechLike(kSecond, 8);
    const auto firstAlone = Encode(first);
    const auto secondAlone = Encode(second);
    ASSERT_NE(firstAlone, secondAlone);

    for (int round = 0; round < 3; ++round) {
        std::promise<void> go;
        const std::shared_future<void> started = go.get_future().share();
        std::vector<std::uint8_t> firstOut;
        std::vector<std::uint8_t> secondOut;
        bool firstOk = false;
        bool secondOk = false;
        auto encodeOnGo = [&started](const std::vector<std::int16_t>& in, std::vector<std::uint8_t>& out, bool& ok) {
            started.wait();
            ok = EncodeMp3(in.data(), static_cast<std::int32_t>(in.size()), out);
        };
        std::thread a(encodeOnGo, std::cref(first), std::ref(firstOut), std::ref(firstOk));
        std::thread b(encodeOnGo, std::cref(second), std::ref(secondOut), std::ref(secondOk));
        go.set_value();
        a.join();
        b.join();
        EXPECT_TRUE(firstOk);
        EXPECT_TRUE(secondOk);
        EXPECT_EQ(firstOut, firstAlone);
        EXPECT_EQ(secondOut, secondAlone);
    }
}

}  // namespace
