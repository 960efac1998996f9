// When each queued 16 kHz sample was captured, so that a chunk cut from the front of the
// queue knows the time of its first sample. Samples arrive in runs (one per recording,
// and a new one wherever the stream jumped); within a run they are 1/16000 s apart, so a
// mark at the start of each run is all that is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "transcribe/transcript.h"

class SampleTimeline {
public:
    // `count` samples were appended to a queue that held `queued`; the first of them was
    // captured at `first`. `newRun` starts a run whatever the times say (a new recording).
    void Append(std::size_t queued, CaptureTime first, bool newRun);
    // The time of the queue's front sample; then forgets the `count` samples cut from the front.
    CaptureTime Cut(std::size_t count);

private:
    struct Mark {
        std::int64_t offset;  // from the queue's front; negative once the front moved past it
        CaptureTime time;
    };
    CaptureTime TimeAt(std::int64_t offset) const;

    std::deque<Mark> marks_;
};
