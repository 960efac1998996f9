#include <gtest/gtest.h>

#include <future>

#include "server/connection_queue.h"

namespace speech_server {
namespace {

using namespace std::chrono_literals;

// A connection that finds every thread busy is not queued behind them: it is handed
// at once to the light path, marked as overflow, with the time of its arrival.
TEST(ConnectionQueue, HandsWhatNoThreadCanTakeToTheLightPath) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<ConnectionQueue::Arrival> first;
    std::promise<ConnectionQueue::Arrival> second;
    ConnectionQueue queue(1);  // joins its threads before the promises go
    queue.enqueue([&] {
        first.set_value(ConnectionQueue::current());
        released.wait();
    });
    const auto before_second = ConnectionQueue::Clock::now();
    queue.enqueue([&] { second.set_value(ConnectionQueue::current()); });
    auto second_arrival = second.get_future();
    const auto waited = second_arrival.wait_for(10s);
    release.set_value();
    ASSERT_EQ(waited, std::future_status::ready) << "waited behind the busy thread";
    const ConnectionQueue::Arrival refused = second_arrival.get();
    EXPECT_TRUE(refused.overflow);
    EXPECT_GE(refused.accepted, before_second);
    EXPECT_FALSE(first.get_future().get().overflow);
}

// Once the light path has as many waiting as it may hold, a further connection is
// handed back at once, on the accepting thread, to be closed unanswered.
TEST(ConnectionQueue, ClosesWhatTheFullLightPathCannotHold) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ConnectionQueue queue(1, 1);
    queue.enqueue([&] { released.wait(); });  // the connection thread
    queue.enqueue([&] { released.wait(); });  // the light path
    queue.enqueue([] {});                     // waits for the light path
    ConnectionQueue::Arrival closed;
    queue.enqueue([&] { closed = ConnectionQueue::current(); });
    EXPECT_TRUE(closed.overflow);
    EXPECT_TRUE(closed.unanswered) << "a fourth connection was held";
    release.set_value();
}

}  // namespace
}  // namespace speech_server
