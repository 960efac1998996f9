#include <gtest/gtest.h>

#include "server/answer_budget.h"

namespace speech_server {
namespace {

using namespace std::chrono_literals;

TEST(AnswerBudget, LeavesWhatTheExpectedRecognitionDoesNotNeed) {
    const AnswerBudget budget(14s, 0.5);
    EXPECT_EQ(budget.Patience(1s, 10.0), 8s);  // 14 - 1 - 10 × 0.5
    EXPECT_EQ(budget.Patience(0s, 0.0), 14s);
    EXPECT_EQ(budget.Patience(13s, 4.0), 0s) << "never below zero";
    EXPECT_EQ(budget.Patience(20s, 1.0), 0s);
}

TEST(AnswerBudget, FollowsMeasuredRecognitionSpeed) {
    AnswerBudget budget(14s, 0.5);
    budget.Record(10.0, 1.0);  // rtf 0.1 weighs a quarter
    EXPECT_DOUBLE_EQ(budget.real_time_factor(), 0.4);
    EXPECT_DOUBLE_EQ(budget.upload_seconds(), 0.75 * 3.5 + 0.25 * 1.0);
    for (int i = 0; i < 50; ++i) budget.Record(4.0, 4.0);
    EXPECT_NEAR(budget.real_time_factor(), 1.0, 1e-5);
    EXPECT_NEAR(std::chrono::duration<double>(budget.Patience(0s, 10.0)).count(), 4.0, 1e-3);
    budget.Record(0.0, 3.0);  // no audio, nothing to learn
    EXPECT_NEAR(budget.real_time_factor(), 1.0, 1e-5);
}

TEST(AnswerBudget, AdmitsOnlyWhatCanBeAnsweredBehindTheUploadsAhead) {
    AnswerBudget budget(14s, 0.5, 7);  // 3.5 s per upload until measured
    // On 2 workers each two uploads ahead add a round of 3.5 s: the 8th waits three.
    int admitted = 0;
    while (admitted < 20 && budget.Admit(0s, 2)) ++admitted;
    EXPECT_EQ(admitted, 8);
    EXPECT_EQ(budget.admitted(), 8u);
    budget.Finish();
    EXPECT_FALSE(budget.Admit(1s, 2)) << "what waited before counts too: 1 + 3 × 3.5 + 3.5 s";
    EXPECT_TRUE(budget.Admit(0s, 2));
    AnswerBudget slow(14s, 1.0, 7);  // 7 s per upload
    EXPECT_TRUE(slow.Admit(20s, 2)) << "an idle recogniser is used however late";
    EXPECT_TRUE(slow.Admit(20s, 2));
    EXPECT_FALSE(slow.Admit(1s, 2)) << "1 + 7 + 7 s";
}

}  // namespace
}  // namespace speech_server
