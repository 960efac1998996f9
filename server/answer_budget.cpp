#include "server/answer_budget.h"

#include <algorithm>

namespace speech_server {
namespace {

// Weight of the newest measurement: recent enough to follow the machine's load,
// steady enough that one odd utterance does not swing it.
constexpr double kNewWeight = 0.25;

}  // namespace

AnswerBudget::AnswerBudget(Duration budget, double initial_rtf) : budget_(budget), rtf_(initial_rtf) {}

AnswerBudget::Duration AnswerBudget::Patience(Duration elapsed, double audio_seconds) const {
    const auto recognition = std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(audio_seconds * real_time_factor()));
    return std::max(Duration::zero(), budget_ - elapsed - recognition);
}

void AnswerBudget::Record(double audio_seconds, double recognition_seconds) {
    if (audio_seconds <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    rtf_ = (1 - kNewWeight) * rtf_ + kNewWeight * (recognition_seconds / audio_seconds);
}

double AnswerBudget::real_time_factor() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rtf_;
}

}  // namespace speech_server
