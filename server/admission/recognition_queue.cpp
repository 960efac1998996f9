#include "server/admission/recognition_queue.h"

#include <chrono>

namespace speech_server {

RecognitionQueue::RecognitionQueue(RecognizerPool& pool) : pool_(pool) {
    for (std::size_t i = 0; i < pool.size(); ++i) workers_.emplace_back([this] { Work(); });
}

RecognitionQueue::~RecognitionQueue() {
    Stop();
    for (std::thread& worker : workers_) worker.join();
}

void RecognitionQueue::Submit(std::shared_ptr<RecognitionJob> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopping_) {
            waiting_.push_back(std::move(job));
            queued_.notify_one();
            return;
        }
    }
    job->Drop();
}

void RecognitionQueue::Stop() {
    std::deque<std::shared_ptr<RecognitionJob>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(waiting_);
    }
    queued_.notify_all();
    for (const auto& job : dropped) job->Drop();
}

void RecognitionQueue::Work() {
    for (;;) {
        std::shared_ptr<RecognitionJob> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            queued_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (waiting_.empty()) return;
            job = std::move(waiting_.front());
            waiting_.pop_front();
        }
        // As many workers as recognisers: one is free unless a caller outside the
        // queue holds it, and then this worker waits its turn.
        auto recognizer = pool_.Acquire(std::chrono::hours(24 * 365));
        if (recognizer) job->Run(**recognizer);
        else job->Drop();
    }
}

}  // namespace speech_server
