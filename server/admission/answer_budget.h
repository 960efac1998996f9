// The one admission point of uploads: an upload is taken when its answer can still
// arrive within the client's time limit, judged by how fast recognition has recently
// run. One that cannot make it is better refused at once than answered after the
// client has given up, which would only hold up the uploads behind it.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>

namespace speech_server {

class AnswerBudget {
public:
    using Duration = std::chrono::steady_clock::duration;

    // `budget`: from the arrival of a request to its answer. `initial_rtf`: the guess
    // of recognition time per second of audio until the first measurement, and of an
    // upload's recognition time for an upload of `initial_audio_seconds`.
    explicit AnswerBudget(Duration budget, double initial_rtf = 0.5, double initial_audio_seconds = 7);

    // Admits an upload that arrived `elapsed` ago, before its body is read, when it
    // can still be answered within the budget behind the uploads admitted earlier
    // and not yet finished, on `workers` recognisers; always while fewer than
    // `workers` are admitted. An admitted upload must be ended with Finish.
    bool Admit(Duration elapsed, std::size_t workers);
    void Finish();
    std::size_t admitted() const;

    // Folds one measured recognition into the estimates.
    void Record(double audio_seconds, double recognition_seconds);
    // The expected recognition time of one upload, in seconds.
    double upload_seconds() const;

private:
    const Duration budget_;
    mutable std::mutex mutex_;
    double upload_seconds_;
    std::size_t admitted_ = 0;
};

}  // namespace speech_server
