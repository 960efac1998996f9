#include <gtest/gtest.h>

#include "server/admission/answer_budget.h"
#include "server/http/inference_server.h"

namespace speech_server {
namespace {

using namespace std::chrono_literals;

TEST(AnswerBudget, FollowsMeasuredRecognitionSpeed) {
    AnswerBudget budget(14s, 0.5);
    budget.Record(10.0, 1.0);  // weighs a quarter
    EXPECT_DOUBLE_EQ(budget.upload_seconds(), 0.75 * 3.5 + 0.25 * 1.0);
    for (int i = 0; i < 50; ++i) budget.Record(4.0, 4.0);
    EXPECT_NEAR(budget.upload_seconds(), 4.0, 1e-5);
    budget.Record(0.0, 3.0);  // no audio, nothing to learn
    EXPECT_NEAR(budget.upload_seconds(), 4.0, 1e-5);
}

// The server's own budget: on 2 workers the 8th upload at once is answered after
// three rounds of 3.5 s and its own 3.5 s, 14 s exactly; a millisecond later it is not.
TEST(AnswerBudget, TheServersBudgetEndsAtFourteenSeconds) {
    AnswerBudget budget(ServerSettings{}.answer_budget, 0.5, 7);
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(budget.Admit(0s, 2));
    EXPECT_FALSE(budget.Admit(1ms, 2));
    EXPECT_TRUE(budget.Admit(0s, 2));
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
