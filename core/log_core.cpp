#include "core/log_core.h"

#include <utility>

std::mutex g_logMutex;

namespace {
LogSink& Sink() {
    static LogSink sink;  // guarded by g_logMutex
    return sink;
}
}  // namespace

void AppendLog(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (!Sink()) return;
    try {
        Sink()(text);
    } catch (...) {
        // A sink that runs out of memory loses this one text, never the caller's thread.
    }
}

void SetLogSink(LogSink sink) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    Sink() = std::move(sink);
}
