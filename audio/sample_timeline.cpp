#include "audio/sample_timeline.h"

#include <chrono>

namespace {
constexpr std::int64_t kSamplesPerSecond = 16000;
// Packets drained together get times a few packets apart from the truth; a jump larger
// than this is a real gap in the stream.
constexpr auto kJumpTolerance = std::chrono::milliseconds(250);
}  // namespace

CaptureTime SampleTimeline::TimeAt(std::int64_t offset) const {
    if (marks_.empty()) return CaptureTime();
    auto mark = marks_.begin();
    while (std::next(mark) != marks_.end() && std::next(mark)->offset <= offset) ++mark;
    const auto elapsed = std::chrono::microseconds((offset - mark->offset) * 1000000 / kSamplesPerSecond);
    return mark->time + std::chrono::duration_cast<CaptureTime::duration>(elapsed);
}

void SampleTimeline::Append(std::size_t queued, CaptureTime first, bool newRun) {
    const auto offset = static_cast<std::int64_t>(queued);
    if (!newRun && !marks_.empty()) {
        const auto drift = first - TimeAt(offset);
        if (drift <= kJumpTolerance && drift >= -kJumpTolerance) return;
    }
    // Marks at or after the end describe samples that are no longer queued.
    while (!marks_.empty() && marks_.back().offset >= offset) marks_.pop_back();
    marks_.push_back({offset, first});
}

CaptureTime SampleTimeline::Cut(std::size_t count) {
    const CaptureTime front = TimeAt(0);
    for (Mark& mark : marks_) mark.offset -= static_cast<std::int64_t>(count);
    while (marks_.size() > 1 && marks_[1].offset <= 0) marks_.pop_front();
    return front;
}
