#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "server/recognition/recognizer_pool.h"

namespace speech_server {
namespace {

using namespace std::chrono_literals;

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
