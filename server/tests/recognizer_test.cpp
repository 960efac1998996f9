#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "server/recognizer.h"
#include "server/recognizer_pool.h"
#include "server/tests/support/speech_samples.h"
#include "server/tests/support/word_error_rate.h"

namespace speech_server {
namespace {

using namespace std::chrono_literals;

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

TEST_F(RecognizerTest, TranscribesReadSpeechWithinTheModelsErrorRate) {
    std::size_t errors = 0;
    std::size_t words = 0;
    for (const auto& clip : testing::LibrivoxClips()) {
        const std::string heard = RecognizeAll(*recognizer_, clip.samples);
        const std::size_t clip_errors = testing::WordErrors(clip.transcript, heard);
        std::printf("%s: %zu/%zu errors: \"%s\"\n", clip.name.c_str(), clip_errors,
                    testing::WordCount(clip.transcript), heard.c_str());
        errors += clip_errors;
        words += testing::WordCount(clip.transcript);
    }
    const double rate = static_cast<double>(errors) / static_cast<double>(words);
    std::printf("word error rate over %zu words: %.1f %%\n", words, 100.0 * rate);
    // The small English model makes about 30 % errors on this speech.
    EXPECT_LT(rate, 0.45);
}

TEST_F(RecognizerTest, StopsAtTheNextSliceWhenToldAndStaysUsable) {
    const auto samples = testing::GoForwardSamples();  // about 2.9 s: twelve slices
    int asked = 0;
    EXPECT_EQ(recognizer_->Recognize(samples.data(), samples.size(), [&asked] { return ++asked < 2; }), std::nullopt);
    EXPECT_EQ(asked, 2) << "asked before each slice of audio, and not after stopping";
    EXPECT_EQ(recognizer_->Recognize(samples.data(), samples.size(), [] { return true; }), testing::kGoForwardText);
}

TEST_F(RecognizerTest, HearsNothingInSilenceOrTinyInput) {
    EXPECT_EQ(RecognizeAll(*recognizer_, std::vector<std::int16_t>(2 * 16000, 0)), "");
    EXPECT_EQ(RecognizeAll(*recognizer_, std::vector<std::int16_t>(10, 100)), "");
    EXPECT_EQ(recognizer_->Recognize(nullptr, 0), "");
}

TEST(ModelPaths, NamesTheFirstMissingFile) {
    EXPECT_EQ(ModelPaths{}.MissingFileMessage(), "");
    ModelPaths paths;
    paths.language_model = "/nonexistent/en-us.lm.bin";
    EXPECT_EQ(paths.MissingFileMessage(),
              "speech model file /nonexistent/en-us.lm.bin not found (install Debian's pocketsphinx-en-us)");
    EXPECT_THROW(SpeechRecognizer{paths}, std::runtime_error);
}

class RecognizerPoolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pool_ = new RecognizerPool(2, ModelPaths{}); }
    static void TearDownTestSuite() {
        delete pool_;
        pool_ = nullptr;
    }
    static void WaitForWaiters(std::size_t count) {
        while (pool_->waiting() != count) std::this_thread::sleep_for(1ms);
    }
    static RecognizerPool* pool_;
};
RecognizerPool* RecognizerPoolTest::pool_ = nullptr;

TEST_F(RecognizerPoolTest, LendsEachRecognizerToOneCallerAtATime) {
    ASSERT_EQ(pool_->size(), 2u);
    auto first = pool_->Acquire(1s);
    auto second = pool_->Acquire(1s);
    ASSERT_TRUE(first && second);
    EXPECT_NE(&**first, &**second);
    EXPECT_FALSE(pool_->Acquire(50ms)) << "both are lent out";
    SpeechRecognizer* returned = &**first;
    first.reset();
    auto third = pool_->Acquire(0ms);
    ASSERT_TRUE(third);
    EXPECT_EQ(&**third, returned);
}

TEST_F(RecognizerPoolTest, ServesWaitersInArrivalOrder) {
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    std::mutex order_mutex;
    std::vector<int> order;
    auto waiter = [&](int id) {
        auto lease = pool_->Acquire(10s);
        std::lock_guard<std::mutex> lock(order_mutex);
        order.push_back(lease ? id : -id);
    };
    std::thread first(waiter, 1);
    WaitForWaiters(1);
    std::thread second(waiter, 2);
    WaitForWaiters(2);
    std::thread third(waiter, 3);
    WaitForWaiters(3);
    held_a.reset();  // one recogniser for three waiters: each takes and returns it in turn
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RecognizerPoolTest, AGivingUpWaiterDoesNotBlockTheLine) {
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    auto impatient = std::async(std::launch::async, [] { return pool_->Acquire(100ms).has_value(); });
    WaitForWaiters(1);
    auto patient = std::async(std::launch::async, [] { return pool_->Acquire(10s).has_value(); });
    EXPECT_FALSE(impatient.get());
    held_b.reset();
    EXPECT_TRUE(patient.get());
}

}  // namespace
}  // namespace speech_server
