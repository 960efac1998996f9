// Turns a request to stop (SIGINT or SIGTERM; on Windows Ctrl+C, Ctrl+Break or closing
// the console) into an ordinary function call on a thread of its own, where it may take
// locks and close sockets, which a signal handler may not.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace speech_server {

class TerminationSignals {
public:
    // Blocks the stop signals for the calling thread and every thread it starts later,
    // so construct this in main before any other thread exists. `on_signal` runs
    // once, on the watcher thread, at the first signal; `on_repeat` at the second,
    // for a user who will not wait: it must end the process.
    TerminationSignals(std::function<void()> on_signal, std::function<void()> on_repeat);
    // Ends and joins the watcher; the signals stay blocked.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    void Watch();

    std::function<void()> on_signal_;
    std::function<void()> on_repeat_;
    std::atomic<bool> quit_{false};
    std::thread watcher_;
};

// How a user stops the server, for the usage text: whole lines, each ending in "\n".
const char* StopUsageText();

}  // namespace speech_server
