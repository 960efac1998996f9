#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/recognition/mp3_decoder.h"
#include "server/recognition/recognizer.h"
#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"
#include "server/tests/support/word_error_rate.h"

namespace speech_server {
namespace {

std::string RecognizeAll(SpeechRecognizer& recognizer, const std::vector<std::int16_t>& samples) {
    return recognizer.Recognize(samples.data(), samples.size());
}

class RecognizerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { recognizer_ = new SpeechRecognizer(ModelPaths{}); }
    static void TearDownTestSuite() {
        delete recognizer_;
        recognizer_ = nullptr;
    }
    static SpeechRecognizer* recognizer_;
};
SpeechRecognizer* RecognizerTest::recognizer_ = nullptr;

TEST_F(RecognizerTest, HearsGoForwardExactly) {
    EXPECT_EQ(RecognizeAll(*recognizer_, testing::GoForwardSamples()), testing::kGoForwardText);
}

// Word errors over the LibriVox and cards clips (92 words) of the recogniser as it was
// before commit 9a1154f, one ps_process_raw call over the whole utterance, measured with
// this test after "go forward": 21 (22.8 %). The quarter-second slices that followed
// made 22 here, and differed from one order of the clips to the next.
constexpr std::size_t kWordErrorsOfOneCall = 21;

TEST_F(RecognizerTest, TranscribesReadSpeechAtLeastAsWellAsOneCallDid) {
    std::size_t errors = 0;
    std::size_t words = 0;
    for (const auto& set : {testing::LibrivoxClips(), testing::CardsClips()}) {
        for (const auto& clip : set) {
            const std::string heard = RecognizeAll(*recognizer_, clip.samples);
            const std::size_t clip_errors = testing::WordErrors(clip.transcript, heard);
            std::printf("%s: %zu/%zu errors: \"%s\"\n", clip.name.c_str(), clip_errors,
                        testing::WordCount(clip.transcript), heard.c_str());
            errors += clip_errors;
            words += testing::WordCount(clip.transcript);
        }
    }
    std::printf("word error rate over %zu words: %zu errors, %.1f %%\n", words, errors,
                100.0 * static_cast<double>(errors) / static_cast<double>(words));
    EXPECT_LE(errors, kWordErrorsOfOneCall);
}

std::vector<std::int16_t> SamplesOf(const std::vector<testing::TranscribedClip>& set, const std::string& name) {
    for (const auto& clip : set)
        if (clip.name == name) return clip.samples;
    throw std::runtime_error("no clip " + name);
}

// The samples as the server gets them from an upload: LAME's MP3, decoded.
std::vector<std::int16_t> ThroughMp3(const std::vector<std::int16_t>& samples) {
    const auto mp3 = testing::EncodeMp3(samples, 16000, 1);
    return DecodeMp3(mp3.data(), mp3.size(), 60 * kSampleRate).samples;
}

// What a freshly loaded recogniser hears in its first utterance.
std::string FirstHeard(const std::vector<std::int16_t>& samples) {
    SpeechRecognizer fresh(ModelPaths{});
    return RecognizeAll(fresh, samples);
}

// Audio heard right after other audio, which must not change its text.
struct HeardAfter {
    const char* case_name;
    std::vector<std::int16_t> before;
    std::vector<std::int16_t> audio;
    // Empty: whatever a freshly loaded recogniser hears in `audio` first.
    std::optional<std::string> text;
};

TEST_F(RecognizerTest, HearsTheSameAudioAlikeWhateverCameBefore) {
    const auto librivox = testing::LibrivoxClips();
    const auto cards = testing::CardsClips();
    const auto noise = ThroughMp3(testing::BrownNoise(4.0, 0.05));  // about -31 dBFS RMS
    const auto sentence = SamplesOf(librivox, "sense_and_sensibility_01_austen_64kb-0870");
    const auto short_sentence = SamplesOf(librivox, "sense_and_sensibility_01_austen_64kb-0880");
    const auto four_queen = SamplesOf(cards, "cards-002");
    const auto three_cards = SamplesOf(cards, "cards-005");
    const HeardAfter table[] = {
        {"a sentence after cards", three_cards, sentence, {}},
        // Decoded MP3 starts with the encoder's delay, near silence: what a recogniser
        // learnt of the noise level from earlier audio would change this one's text.
        {"a sentence after another, through MP3", ThroughMp3(sentence), ThroughMp3(short_sentence), {}},
        {"cards after a sentence", SamplesOf(librivox, "sense_and_sensibility_01_austen_64kb-0920"), three_cards, {}},
        {"cards after cards", three_cards, four_queen, {}},
        {"a sentence after noise", noise, SamplesOf(librivox, "sense_and_sensibility_01_austen_64kb-0930"), {}},
        {"noise after a sentence", sentence, noise, ""},
        {"noise after another sentence", short_sentence, noise, ""},
        {"noise after cards", four_queen, noise, ""},
        {"digital silence after speech", short_sentence, std::vector<std::int16_t>(2 * 16000, 0), ""},
        {"ten samples after speech", short_sentence, std::vector<std::int16_t>(10, 100), ""},
        {"nothing after speech", short_sentence, {}, ""},
    };
    for (const HeardAfter& row : table) {
        SCOPED_TRACE(row.case_name);
        const std::string expected = row.text ? *row.text : FirstHeard(row.audio);
        RecognizeAll(*recognizer_, row.before);
        EXPECT_EQ(RecognizeAll(*recognizer_, row.audio), expected);
    }
}

TEST(ModelPaths, NamesTheFirstMissingFile) {
    EXPECT_EQ(ModelPaths{}.MissingFileMessage(), "");
    ModelPaths paths;
    paths.language_model = "/nonexistent/en-us.lm.bin";
    EXPECT_EQ(paths.MissingFileMessage(),
              "speech model file /nonexistent/en-us.lm.bin not found (install Debian's pocketsphinx-en-us)");
    EXPECT_THROW(SpeechRecognizer{paths}, std::runtime_error);
}

}  // namespace
}  // namespace speech_server
