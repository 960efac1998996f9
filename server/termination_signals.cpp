#include "server/termination_signals.h"

#include <pthread.h>

#include <ctime>

namespace speech_server {
namespace {

// How often the watcher looks whether it should end.
constexpr long kPollNanoseconds = 100 * 1000 * 1000;

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> on_signal) : on_signal_(std::move(on_signal)) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    watcher_ = std::thread([this] { Watch(); });
}

TerminationSignals::~TerminationSignals() {
    quit_ = true;
    watcher_.join();
}

void TerminationSignals::Watch() {
    const timespec poll{0, kPollNanoseconds};
    while (!quit_) {
        if (sigtimedwait(&signals_, nullptr, &poll) > 0) {
            on_signal_();
            return;
        }
    }
}

}  // namespace speech_server
