// A transcript output in memory that behaves as a file: writes land at their offsets.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "transcribe/transcript.h"

class MemoryTranscript {
public:
    // The output to hand to a Transcript; it writes into this object, which must outlive it.
    std::unique_ptr<TranscriptOutput> Output();
    std::string Text() const;
    // Writes after the first `writes` succeed fail with `error`.
    void FailAfter(int writes, std::string error);

private:
    class Writer;
    mutable std::mutex mutex_;
    std::string text_;
    int writesLeft_ = -1;  // -1: no limit
    std::string error_;
};
