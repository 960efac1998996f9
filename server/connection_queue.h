// The HTTP layer's queue of accepted connections. A fixed set of connection threads
// serves them, and a connection is only queued when a thread is free to take it:
// one that arrives while every thread is busy goes to a light path instead (its own
// thread), which only refuses it, so nothing waits unseen behind busy threads. Each
// task learns when its connection was accepted, so that its wait counts from there.
// The light path's own queue is bounded too: past it a connection is closed at once,
// unanswered, so that a flood of connections cannot hold sockets and memory.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace speech_server {

class ConnectionQueue : public httplib::TaskQueue {
public:
    using Clock = std::chrono::steady_clock;

    // How the connection that the calling thread is serving came in.
    struct Arrival {
        Clock::time_point accepted;
        bool overflow = false;  // every connection thread was busy: refuse it
        bool unanswered = false;  // the light path was full too: close it, read nothing
    };

    // `threads` connection threads; at most `waiting_refusals` connections wait for the
    // light path.
    explicit ConnectionQueue(std::size_t threads, std::size_t waiting_refusals = 64);
    ~ConnectionQueue() override;

    // Called by the accept loop with each accepted connection's task.
    void enqueue(std::function<void()> task) override;
    // Serves what is queued, then ends and joins every thread.
    void shutdown() override;

    // The arrival of the task running on the calling thread.
    static const Arrival& current();

private:
    struct Task {
        std::function<void()> run;
        Arrival arrival;
    };
    // Serves `queue` until shut down and empty.
    void Work(std::deque<Task>& queue, bool counts_as_idle);

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Task> tasks_;
    std::deque<Task> overflow_;
    std::size_t idle_;  // connection threads not serving a task
    const std::size_t waiting_refusals_;
    bool shutting_down_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace speech_server
