// Windows has no stop signals: the console's control events (Ctrl+C, Ctrl+Break, the
// window closed, log-off, shut-down) arrive on a thread the system starts, and are
// handed to the watcher through an event.
#include "server/termination_signals.h"

#include <windows.h>

namespace speech_server {
namespace {

constexpr DWORD kPollMilliseconds = 100;

HANDLE g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
// Set before the handler is installed; the handler runs it on the second event.
std::function<void()> g_onRepeat;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (WaitForSingleObject(g_stopRequested, 0) == WAIT_OBJECT_0) g_onRepeat();
    SetEvent(g_stopRequested);
    // After the handler returns from these the system ends the process at once, so
    // keep it waiting: the process ends when main returns (or when the system's grace
    // period runs out).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> on_signal, std::function<void()> on_repeat)
    : on_signal_(std::move(on_signal)), on_repeat_(std::move(on_repeat)) {
    g_onRepeat = on_repeat_;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    watcher_ = std::thread([this] { Watch(); });
}

TerminationSignals::~TerminationSignals() {
    quit_ = true;
    watcher_.join();
}

void TerminationSignals::Watch() {
    while (!quit_) {
        if (WaitForSingleObject(g_stopRequested, kPollMilliseconds) == WAIT_OBJECT_0) {
            on_signal_();
            return;
        }
    }
}

const char* StopUsageText() {
    return "Ctrl+C, Ctrl+Break or closing the console\n"
           "window stops the server after the requests in progress are answered;\n"
           "a second one stops it at once.\n";
}

}  // namespace speech_server
