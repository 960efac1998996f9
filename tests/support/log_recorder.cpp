#include "tests/support/log_recorder.h"

LogRecorder::LogRecorder() {
    SetLogSink([this](const std::string& text) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            entries_.push_back(text);
        }
        arrived_.notify_all();
    });
}

LogRecorder::~LogRecorder() { SetLogSink(nullptr); }

std::vector<std::string> LogRecorder::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::string LogRecorder::Text() const {
    std::string all;
    for (const auto& entry : Entries()) all += entry;
    return all;
}

bool LogRecorder::WaitForEntries(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return entries_.size() >= count; });
}
