#include "server/recognition/recognizer_pool.h"

#include <algorithm>

namespace speech_server {

RecognizerPool::Lease::Lease(Lease&& other) noexcept : pool_(other.pool_), recognizer_(other.recognizer_) {
    other.pool_ = nullptr;
    other.recognizer_ = nullptr;
}

RecognizerPool::Lease::~Lease() {
    if (pool_) pool_->Release(recognizer_);
}

RecognizerPool::RecognizerPool(std::size_t count, const ModelPaths& paths) {
    all_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) all_.push_back(std::make_unique<SpeechRecognizer>(paths));
    for (const auto& recognizer : all_) free_.push_back(recognizer.get());
}

RecognizerPool::~RecognizerPool() = default;

std::optional<RecognizerPool::Lease> RecognizerPool::Acquire(std::chrono::steady_clock::duration patience) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t ticket = next_ticket_++;
    waiting_.push_back(ticket);
    const bool served = released_.wait_for(
        lock, patience, [&] { return !free_.empty() && waiting_.front() == ticket; });
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
    // Whoever is now first in line may be able to go ahead.
    released_.notify_all();
    if (!served) return std::nullopt;
    SpeechRecognizer* recognizer = free_.back();
    free_.pop_back();
    return Lease(this, recognizer);
}

std::size_t RecognizerPool::waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_.size();
}

void RecognizerPool::Release(SpeechRecognizer* recognizer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(recognizer);
    }
    released_.notify_all();
}

}  // namespace speech_server
