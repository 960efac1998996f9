// The whole road of captured audio: played into the sink, captured, cut into chunks,
// encoded and posted to a loopback server, whose uploads must decode to what was played.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/support/loopback_server.h"
#include "tests/support/mp3_decode.h"
#include "tests/support/signal_compare.h"
#include "tests/support/test_signal.h"
#include "tests/win/capture_fixture.h"
#include "tests/win/sound_player.h"
#include "transcribe/chunk_job.h"
#include "transcribe/mp3_encoder.h"

namespace {

constexpr std::size_t kSecond = 16000;
constexpr std::size_t kSamplesPerFrame = 576;  // MPEG-2 Layer III at 16 kHz

struct Alignment {
    long lag = 0;              // body[i + lag] carries played[i]
    double correlation = 0.0;  // normalised, at that lag
    std::size_t overlap = 0;   // samples compared there
};

// Normalised correlation of `played` and `body` at `lag`, on every `step`-th sample.
Alignment CorrelationAt(const std::vector<std::int16_t>& played, const std::vector<std::int16_t>& body, long lag,
                        long step) {
    const long first = std::max(0L, -lag);
    const long last = std::min(static_cast<long>(played.size()), static_cast<long>(body.size()) - lag);
    double product = 0.0, playedEnergy = 0.0, bodyEnergy = 0.0;
    for (long i = first; i < last; i += step) {
        const double p = played[i];
        const double b = body[i + lag];
        product += p * b;
        playedEnergy += p * p;
        bodyEnergy += b * b;
    }
    const double energy = playedEnergy * bodyEnergy;
    return {lag, energy > 0.0 ? product / std::sqrt(energy) : 0.0, static_cast<std::size_t>(std::max(0L, last - first))};
}

// The lag at which `body` best matches a stretch of `played`, comparing at least a
// quarter second: searched on every second lag and sample, then refined around the best.
Alignment Align(const std::vector<std::int16_t>& played, const std::vector<std::int16_t>& body) {
    const long minOverlap = static_cast<long>(kSecond / 4);
    Alignment coarse;
    for (long lag = minOverlap - static_cast<long>(played.size()); lag <= static_cast<long>(body.size()) - minOverlap;
         lag += 2) {
        const Alignment candidate = CorrelationAt(played, body, lag, 2);
        if (candidate.correlation > coarse.correlation) coarse = candidate;
    }
    Alignment best;
    for (long lag = coarse.lag - 3; lag <= coarse.lag + 3; ++lag) {
        const Alignment candidate = CorrelationAt(played, body, lag, 1);
        if (candidate.correlation > best.correlation) best = candidate;
    }
    return best;
}

// How many samples the encoder puts in front of a chunk's audio.
std::size_t EncoderDelay() {
    const auto probe = test_signal::SpeechLike(kSecond, 3);
    std::vector<std::uint8_t> mp3;
    DecodedMp3 decoded;
    std::string error;
    if (!EncodeMp3(probe.data(), static_cast<std::int32_t>(probe.size()), mp3) || !DecodeMp3(mp3, decoded, error))
        return 0;
    return FindDelay(probe, decoded.samples, 4 * kSamplesPerFrame);
}

class CaptureUploadTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        server_.SetReply(Reply(200, R"({"text":""})"));  // an empty transcript logs nothing
        g_serverPort = server_.Port();
        g_language.Set("en");
        g_chunkSeconds = 1;
    }
    void TearDown() override {
        CaptureTest::TearDown();
        g_language.Set("zh");
    }

    LoopbackServer server_;
};

TEST_F(CaptureUploadTest, ChunksReachTheServerAsMp3OfWhatWasPlayed) {
    const auto played = test_signal::SpeechLike(4 * kSecond + kSecond / 2, 11);
    SoundPlayer player;
    ASSERT_TRUE(StartAndAwaitPackets());
    ASSERT_TRUE(player.Play(played));
    Sleep(5500);  // the sound, its way through the sink, and a little silence after it
    StopCapture(g_capture);
    JoinAllWorkers();
    ASSERT_TRUE(IsClosed(g_capture));
    EXPECT_LT(g_capture.pendingSamples.size(), kSecond) << "a whole chunk stayed in the queue";

    const auto requests = server_.Requests();
    ASSERT_GE(requests.size(), 5u) << "one chunk per second of recording";
    const std::size_t encoderDelay = EncoderDelay();
    ASSERT_GT(encoderDelay, 0u);

    std::vector<Alignment> covered;  // chunks that lie wholly inside the played sound
    for (std::size_t k = 0; k < requests.size(); ++k) {
        SCOPED_TRACE("chunk " + std::to_string(k));
        EXPECT_EQ(requests[k].target, "/inference");
        const FormPart* file = nullptr;
        const FormPart* language = nullptr;
        for (const auto& part : requests[k].parts) {
            if (part.name == "file") file = &part;
            if (part.name == "language") language = &part;
        }
        ASSERT_TRUE(file && language) << "not the upload form";
        EXPECT_EQ(language->content, "en");

        DecodedMp3 decoded;
        std::string error;
        ASSERT_TRUE(DecodeMp3(reinterpret_cast<const std::uint8_t*>(file->content.data()), file->content.size(),
                              decoded, error))
            << error;
        // Exactly one second of audio went in: the encoder adds its delay and pads the
        // last frame, never a whole one more.
        EXPECT_GE(decoded.samples.size(), kSecond + encoderDelay);
        EXPECT_LT(decoded.samples.size(), kSecond + encoderDelay + 2 * kSamplesPerFrame);

        // The chunk's own samples, behind the encoder's delay.
        if (decoded.samples.size() < kSecond + encoderDelay) continue;
        const std::vector<std::int16_t> body(decoded.samples.begin() + static_cast<long>(encoderDelay),
                                             decoded.samples.begin() + static_cast<long>(encoderDelay + kSecond));
        const Alignment alignment = Align(played, body);
        std::printf("upload %zu: lag %ld, correlation %.3f over %zu samples\n", k, alignment.lag,
                    alignment.correlation, alignment.overlap);
        if (alignment.overlap == kSecond && alignment.correlation > 0.5) covered.push_back(alignment);
    }

    // Uploads may overtake each other; the audio they carry tells their order.
    std::sort(covered.begin(), covered.end(), [](const Alignment& a, const Alignment& b) { return a.lag > b.lag; });
    ASSERT_GE(covered.size(), 3u) << "the played sound should fill at least three chunks";
    for (std::size_t k = 0; k < covered.size(); ++k) {
        EXPECT_GT(covered[k].correlation, 0.9) << "chunk " << k << " does not carry what was played";
        // Consecutive chunks carry consecutive stretches: nothing lost, nothing doubled.
        if (k > 0) {
            EXPECT_EQ(covered[k - 1].lag - covered[k].lag, static_cast<long>(kSecond)) << "chunk " << k;
        }
    }
}

}  // namespace
