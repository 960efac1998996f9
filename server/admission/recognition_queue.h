// The uploads admitted for recognition, in the order of their admission, each taken by
// the first worker whose recogniser is free. Every worker thread is owned here and
// ends in Stop.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/recognition/recognizer_pool.h"

namespace speech_server {

class RecognitionJob {
public:
    virtual ~RecognitionJob() = default;
    // On a worker thread, with a recogniser of its own until it returns.
    virtual void Run(SpeechRecognizer& recognizer) = 0;
    // Instead of Run, for a job whose turn had not come when the queue stopped.
    virtual void Drop() = 0;
};

class RecognitionQueue {
public:
    // Starts one worker per recogniser of `pool`.
    explicit RecognitionQueue(RecognizerPool& pool);
    ~RecognitionQueue();  // Stop, then waits for the workers
    RecognitionQueue(const RecognitionQueue&) = delete;
    RecognitionQueue& operator=(const RecognitionQueue&) = delete;

    // Queues `job`; after Stop it is dropped at once.
    void Submit(std::shared_ptr<RecognitionJob> job);
    // Drops every job that no worker has taken yet; the workers end once those
    // taken have run.
    void Stop();
    std::size_t workers() const { return workers_.size(); }

private:
    void Work();

    RecognizerPool& pool_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::shared_ptr<RecognitionJob>> waiting_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace speech_server
