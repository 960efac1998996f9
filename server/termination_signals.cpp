#include "server/termination_signals.h"

#include <pthread.h>

#include <csignal>
#include <ctime>

namespace speech_server {
namespace {

// How often the watcher looks whether it should end.
constexpr long kPollNanoseconds = 100 * 1000 * 1000;

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> on_signal, std::function<void()> on_repeat)
    : on_signal_(std::move(on_signal)), on_repeat_(std::move(on_repeat)) {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    watcher_ = std::thread([this] { Watch(); });
}

TerminationSignals::~TerminationSignals() {
    quit_ = true;
    watcher_.join();
}

void TerminationSignals::Watch() {
    const sigset_t signals = StopSignals();
    const timespec poll{0, kPollNanoseconds};
    bool stopping = false;
    while (!quit_) {
        if (sigtimedwait(&signals, nullptr, &poll) <= 0) continue;
        if (stopping) on_repeat_();
        on_signal_();
        stopping = true;
    }
}

const char* StopUsageText() {
    return "SIGINT or SIGTERM stops the server\n"
           "after the requests in progress are answered; a second one stops it at once.\n";
}

}  // namespace speech_server
