// A transcript output in memory that behaves as a file: writes land at their offsets in
// `text`, and the writes after the first `failAfter` fail with `error`.
#pragma once

#include <memory>
#include <string>

#include "transcribe/transcript.h"

class MemoryTranscript : public TranscriptOutput {
public:
    explicit MemoryTranscript(std::shared_ptr<std::string> text, int failAfter = -1, std::string error = "")
        : text_(std::move(text)), writesLeft_(failAfter), error_(std::move(error)) {}

    bool WriteAt(std::uint64_t offset, const std::string& bytes, std::string& error) override {
        if (writesLeft_ == 0) {
            error = error_;
            return false;
        }
        if (writesLeft_ > 0) --writesLeft_;
        if (text_->size() < offset + bytes.size()) text_->resize(offset + bytes.size(), '\0');
        text_->replace(offset, bytes.size(), bytes);
        return true;
    }

private:
    std::shared_ptr<std::string> text_;
    int writesLeft_;
    std::string error_;
};
