#include "server/admission/answer_budget.h"

#include <algorithm>
#include <cmath>

namespace speech_server {
namespace {

// Weight of the newest measurement: recent enough to follow the machine's load,
// steady enough that one odd utterance does not swing it.
constexpr double kNewWeight = 0.25;

}  // namespace

AnswerBudget::AnswerBudget(Duration budget, double initial_rtf, double initial_audio_seconds)
    : budget_(budget), upload_seconds_(initial_rtf * initial_audio_seconds) {}

bool AnswerBudget::Admit(Duration elapsed, std::size_t workers) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Its recognition starts once all but workers - 1 of those ahead have finished.
    // Counted in whole rounds of one upload per worker, as if those running had just
    // begun: a wait that runs longer than foreseen ends in a late refusal.
    const std::size_t behind_running = admitted_ + 1 > workers ? admitted_ + 1 - workers : 0;
    const double rounds = std::ceil(static_cast<double>(behind_running) / static_cast<double>(workers));
    const double wait = rounds * upload_seconds_;
    const std::chrono::duration<double> answer = elapsed + std::chrono::duration<double>(wait + upload_seconds_);
    // A recogniser that would stand idle is used however late it is.
    if (admitted_ >= workers && answer > budget_) return false;
    ++admitted_;
    return true;
}

void AnswerBudget::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    --admitted_;
}

std::size_t AnswerBudget::admitted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return admitted_;
}

void AnswerBudget::Record(double audio_seconds, double recognition_seconds) {
    if (audio_seconds <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    upload_seconds_ = (1 - kNewWeight) * upload_seconds_ + kNewWeight * recognition_seconds;
}

double AnswerBudget::upload_seconds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return upload_seconds_;
}

}  // namespace speech_server
