// A fixed set of recognisers shared by the request threads: a request takes a free
// one, or waits its turn in arrival order, and gives it back when done.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "server/recognition/recognizer.h"

namespace speech_server {

class RecognizerPool {
public:
    // Exclusive use of one recogniser until destroyed.
    class Lease {
    public:
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&&) = delete;
        Lease(const Lease&) = delete;
        ~Lease();
        SpeechRecognizer& operator*() const { return *recognizer_; }
        SpeechRecognizer* operator->() const { return recognizer_; }

    private:
        friend class RecognizerPool;
        Lease(RecognizerPool* pool, SpeechRecognizer* recognizer) : pool_(pool), recognizer_(recognizer) {}
        RecognizerPool* pool_;
        SpeechRecognizer* recognizer_;
    };

    // Loads `count` recognisers one after another; throws what SpeechRecognizer throws.
    RecognizerPool(std::size_t count, const ModelPaths& paths);
    RecognizerPool(const RecognizerPool&) = delete;
    RecognizerPool& operator=(const RecognizerPool&) = delete;
    // Every lease must have ended before the pool is destroyed.
    ~RecognizerPool();

    // A free recogniser, waiting up to `patience` behind earlier callers; empty when
    // none came free in time.
    std::optional<Lease> Acquire(std::chrono::steady_clock::duration patience);
    std::size_t size() const { return all_.size(); }
    // Callers currently waiting in Acquire.
    std::size_t waiting() const;

private:
    void Release(SpeechRecognizer* recognizer);

    std::vector<std::unique_ptr<SpeechRecognizer>> all_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::vector<SpeechRecognizer*> free_;
    std::deque<std::uint64_t> waiting_;  // tickets of the callers in Acquire, oldest first
    std::uint64_t next_ticket_ = 0;
};

}  // namespace speech_server
