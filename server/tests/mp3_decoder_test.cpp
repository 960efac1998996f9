#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "server/recognition/mp3_decoder.h"
#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"

namespace speech_server {
namespace {

constexpr std::size_t kNoLimit = 100 * 16000;
// LAME's encoder delay and end padding, plus one frame of slack either way.
constexpr double kLengthSlack = 3000;

Mp3Decoding Decode(const std::vector<std::uint8_t>& mp3, std::size_t max_samples = kNoLimit) {
    return DecodeMp3(mp3.data(), mp3.size(), max_samples);
}

// Sign changes per second in the middle of the signal, away from the encoder's edges.
double CrossingsPerSecond(const std::vector<std::int16_t>& samples) {
    const std::size_t begin = samples.size() / 4;
    const std::size_t end = samples.size() * 3 / 4;
    int crossings = 0;
    for (std::size_t i = begin + 1; i < end; ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return crossings * static_cast<double>(kSampleRate) / static_cast<double>(end - begin);
}

double Rms(const std::vector<std::int16_t>& samples) {
    double sum = 0;
    for (std::int16_t s : samples) sum += static_cast<double>(s) * s;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

TEST(DecodeMp3, RestoresA16kHzMonoToneFromLame) {
    const auto tone = testing::SineWave(440, 2.0, 16000, 1);
    const Mp3Decoding decoded = Decode(testing::EncodeMp3(tone, 16000, 1));
    ASSERT_EQ(decoded.outcome, Mp3Decoding::Outcome::kDecoded) << decoded.detail;
    EXPECT_NEAR(static_cast<double>(decoded.samples.size()), static_cast<double>(tone.size()), kLengthSlack);
    EXPECT_NEAR(CrossingsPerSecond(decoded.samples), 880.0, 10.0);
    EXPECT_NEAR(Rms(decoded.samples), Rms(tone), Rms(tone) * 0.1);
}

TEST(DecodeMp3, RestoresSpeechFromLame) {
    const auto speech = testing::GoForwardSamples();
    const Mp3Decoding decoded = Decode(testing::EncodeMp3(speech, 16000, 1));
    ASSERT_EQ(decoded.outcome, Mp3Decoding::Outcome::kDecoded) << decoded.detail;
    EXPECT_NEAR(static_cast<double>(decoded.samples.size()), static_cast<double>(speech.size()), kLengthSlack);
    EXPECT_NEAR(Rms(decoded.samples), Rms(speech), Rms(speech) * 0.15);
}

TEST(DecodeMp3, ResamplesAndMixesDownOtherFormats) {
    const auto tone = testing::SineWave(1000, 2.0, 44100, 2);
    const Mp3Decoding decoded = Decode(testing::EncodeMp3(tone, 44100, 2));
    ASSERT_EQ(decoded.outcome, Mp3Decoding::Outcome::kDecoded) << decoded.detail;
    EXPECT_NEAR(static_cast<double>(decoded.samples.size()), 2.0 * kSampleRate, kLengthSlack);
    EXPECT_NEAR(CrossingsPerSecond(decoded.samples), 2000.0, 20.0);
}

TEST(DecodeMp3, SkipsATagBeforeTheFrames) {
    std::vector<std::uint8_t> mp3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};  // ID3v2.4, 20 bytes of tag
    mp3.resize(mp3.size() + 20, 'T');
    const auto frames = testing::EncodeMp3(testing::SineWave(440, 1.0, 16000, 1), 16000, 1);
    mp3.insert(mp3.end(), frames.begin(), frames.end());
    const Mp3Decoding decoded = Decode(mp3);
    ASSERT_EQ(decoded.outcome, Mp3Decoding::Outcome::kDecoded) << decoded.detail;
    EXPECT_NEAR(CrossingsPerSecond(decoded.samples), 880.0, 10.0);
}

TEST(DecodeMp3, DecodesTheWholeFramesOfACutStream) {
    auto mp3 = testing::EncodeMp3(testing::SineWave(440, 4.0, 16000, 1), 16000, 1);
    mp3.resize(mp3.size() / 2 + 17);  // ends inside a frame
    const Mp3Decoding decoded = Decode(mp3);
    ASSERT_EQ(decoded.outcome, Mp3Decoding::Outcome::kDecoded) << decoded.detail;
    EXPECT_NEAR(static_cast<double>(decoded.samples.size()), 2.0 * kSampleRate, kLengthSlack);
}

TEST(DecodeMp3, FindsNoFramesInOtherData) {
    const std::vector<std::vector<std::uint8_t>> inputs = {
        {},
        {0xFF},
        std::vector<std::uint8_t>(10000, 0),
        std::vector<std::uint8_t>(10000, 0xFF),
        {'{', '"', 't', 'e', 'x', 't', '"', ':', '1', '}'},
    };
    for (const auto& input : inputs) {
        const Mp3Decoding decoded = Decode(input);
        EXPECT_EQ(decoded.outcome, Mp3Decoding::Outcome::kNoFrames) << input.size() << " bytes";
        EXPECT_TRUE(decoded.samples.empty());
    }
}

TEST(DecodeMp3, StopsAtTheSampleLimit) {
    const auto mp3 = testing::EncodeMp3(testing::SineWave(440, 3.0, 16000, 1), 16000, 1);
    EXPECT_EQ(Decode(mp3, 2 * 16000).outcome, Mp3Decoding::Outcome::kTooLong);
    EXPECT_EQ(Decode(mp3, 4 * 16000).outcome, Mp3Decoding::Outcome::kDecoded);
}

}  // namespace
}  // namespace speech_server
