// How long a request may wait for a free recogniser: as long as its answer can still
// arrive within the client's time limit, judged by how fast recognition has recently
// run. A request that cannot make it is better refused at once than answered after
// the client has given up, which would only hold up the requests behind it.
#pragma once

#include <chrono>
#include <mutex>

namespace speech_server {

class AnswerBudget {
public:
    using Duration = std::chrono::steady_clock::duration;

    // `budget`: from the start of a request to its answer. `initial_rtf`: the guess
    // of recognition time per second of audio until the first measurement.
    explicit AnswerBudget(Duration budget, double initial_rtf = 0.5);

    // What is left of the budget after `elapsed`, less the expected recognition time
    // of `audio_seconds`; zero when nothing is left (a free recogniser is still taken).
    Duration Patience(Duration elapsed, double audio_seconds) const;

    // Folds one measured recognition into the estimate.
    void Record(double audio_seconds, double recognition_seconds);
    double real_time_factor() const;

private:
    const Duration budget_;
    mutable std::mutex mutex_;
    double rtf_;
};

}  // namespace speech_server
