#include "tests/support/memory_transcript.h"

#include <utility>

class MemoryTranscript::Writer : public TranscriptOutput {
public:
    explicit Writer(MemoryTranscript& owner) : owner_(owner) {}
    bool WriteAt(std::uint64_t offset, const std::string& bytes, std::string& error) override {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        if (owner_.writesLeft_ == 0) {
            error = owner_.error_;
            return false;
        }
        if (owner_.writesLeft_ > 0) --owner_.writesLeft_;
        std::string& text = owner_.text_;
        if (text.size() < offset + bytes.size()) text.resize(offset + bytes.size(), '\0');
        text.replace(offset, bytes.size(), bytes);
        return true;
    }

private:
    MemoryTranscript& owner_;
};

std::unique_ptr<TranscriptOutput> MemoryTranscript::Output() { return std::make_unique<Writer>(*this); }

std::string MemoryTranscript::Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

void MemoryTranscript::FailAfter(int writes, std::string error) {
    std::lock_guard<std::mutex> lock(mutex_);
    writesLeft_ = writes;
    error_ = std::move(error);
}
