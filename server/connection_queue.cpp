#include "server/connection_queue.h"

namespace speech_server {
namespace {

thread_local ConnectionQueue::Arrival t_arrival;

}  // namespace

ConnectionQueue::ConnectionQueue(std::size_t threads) : idle_(threads) {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(tasks_, true); });
    threads_.emplace_back([this] { Work(overflow_, false); });
}

ConnectionQueue::~ConnectionQueue() { shutdown(); }

void ConnectionQueue::enqueue(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool overflow = tasks_.size() >= idle_;
        (overflow ? overflow_ : tasks_).push_back({std::move(task), {Clock::now(), overflow}});
    }
    ready_.notify_all();
}

void ConnectionQueue::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutting_down_ = true;
    }
    ready_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

const ConnectionQueue::Arrival& ConnectionQueue::current() { return t_arrival; }

void ConnectionQueue::Work(std::deque<Task>& queue, bool counts_as_idle) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ready_.wait(lock, [&] { return !queue.empty() || shutting_down_; });
        if (queue.empty()) return;  // shutting down
        Task task = std::move(queue.front());
        queue.pop_front();
        if (counts_as_idle) --idle_;
        lock.unlock();
        t_arrival = task.arrival;
        task.run();
        lock.lock();
        if (counts_as_idle) ++idle_;
    }
}

}  // namespace speech_server
