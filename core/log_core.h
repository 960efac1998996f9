// The log: every subsystem reports through AppendLog, from any thread.
// The core serialises whole appends and hands each to the installed sink: the
// window's pane on Windows, a recorder in tests. Without a sink text is dropped.
#pragma once

#include <functional>
#include <mutex>
#include <string>

extern std::mutex g_logMutex;

// Appends UTF-8 text unchanged. Appends never interleave and reach the sink in
// the order in which their callers obtained g_logMutex.
void AppendLog(const std::string& text);

// The sink runs with g_logMutex held, so it must not wait for another thread that
// may itself be appending. An empty function removes the sink.
using LogSink = std::function<void(const std::string&)>;
void SetLogSink(LogSink sink);
