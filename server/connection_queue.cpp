#include "server/connection_queue.h"

namespace speech_server {
namespace {

thread_local ConnectionQueue::Arrival t_arrival;

}  // namespace

ConnectionQueue::ConnectionQueue(std::size_t threads, std::size_t waiting_refusals)
    : idle_(threads), waiting_refusals_(waiting_refusals) {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(tasks_, true); });
    threads_.emplace_back([this] { Work(overflow_, false); });
}

ConnectionQueue::~ConnectionQueue() { shutdown(); }

void ConnectionQueue::enqueue(std::function<void()> task) {
    const Clock::time_point accepted = Clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (tasks_.size() < idle_) {
            tasks_.push_back({std::move(task), {accepted, false, false}});
            ready_.notify_all();
            return;
        }
        if (overflow_.size() < waiting_refusals_) {
            overflow_.push_back({std::move(task), {accepted, true, false}});
            ready_.notify_all();
            return;
        }
    }
    // Run here, on the accept loop: it only closes the connection.
    t_arrival = {accepted, true, true};
    task();
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
