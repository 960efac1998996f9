// Receives everything AppendLog passes on while it lives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/log_core.h"

class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    std::vector<std::string> Entries() const;
    std::string Text() const;  // all entries, concatenated
    // Waits until at least `count` entries arrived; false on time-out.
    bool WaitForEntries(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::string> entries_;
};
