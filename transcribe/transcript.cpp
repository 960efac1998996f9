#include "transcribe/transcript.h"

#include <ctime>
#include <utility>

#include "core/log_core.h"

Transcript::Transcript(std::unique_ptr<TranscriptOutput> output) : output_(std::move(output)) {}

std::uint64_t Transcript::Reserve() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reserved_++;
}

void Transcript::Complete(std::uint64_t number, const std::string& entry) {
    std::string error;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (givenUp_) return;
        std::uint64_t offset = placedEnd_ + waitingBytes_;
        std::string bytes = entry;
        std::uint64_t placed = 0;
        if (number == next_) {
            // The line and the waiting lines that follow it without a gap take their places;
            // the others are written again after them. One write, so a kill leaves the file
            // as it was before or after, and no line is ever missing from it.
            offset = placedEnd_;
            ++next_;
            for (auto it = waiting_.find(next_); it != waiting_.end(); it = waiting_.find(++next_)) {
                bytes += it->second;
                waitingBytes_ -= it->second.size();
                waiting_.erase(it);
            }
            placed = bytes.size();
            for (const auto& [later, text] : waiting_) bytes += text;
        } else {
            waiting_.emplace(number, entry);
            waitingBytes_ += entry.size();
        }
        if (output_->WriteAt(offset, bytes, error)) {
            placedEnd_ += placed;
            return;
        }
        givenUp_ = true;
        waiting_.clear();
    }
    // Logged without the transcript's lock held: no thread holds two locks at once.
    AppendLog(kTranscriptNotSaved + error + "\n");
}

TranscriptLine::TranscriptLine(std::shared_ptr<Transcript> transcript, CaptureTime firstSample)
    : transcript_(std::move(transcript)), firstSample_(firstSample) {
    if (transcript_) number_ = transcript_->Reserve();
}

TranscriptLine::TranscriptLine(TranscriptLine&& other) noexcept
    : transcript_(std::move(other.transcript_)), number_(other.number_), firstSample_(other.firstSample_) {}

TranscriptLine& TranscriptLine::operator=(TranscriptLine&& other) noexcept {
    if (this != &other) {
        Fill("(no text: not sent)");
        transcript_ = std::move(other.transcript_);
        number_ = other.number_;
        firstSample_ = other.firstSample_;
    }
    return *this;
}

TranscriptLine::~TranscriptLine() { Fill("(no text: not sent)"); }

void TranscriptLine::Text(const std::string& text) { Fill(text.empty() ? "(no text)" : text); }

void TranscriptLine::NoText(const std::string& reason) { Fill("(no text: " + reason + ")"); }

void TranscriptLine::Fill(const std::string& body) noexcept {
    if (!transcript_) return;
    const std::shared_ptr<Transcript> transcript = std::move(transcript_);
    try {
        transcript->Complete(number_, TranscriptEntry(firstSample_, body));
    } catch (...) {
        // Out of memory: this line is lost, never the worker that reports it.
    }
}

namespace {

std::string LocalClockText(CaptureTime time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm local = {};
#ifdef _WIN32
    const bool converted = localtime_s(&local, &seconds) == 0;
#else
    const bool converted = localtime_r(&seconds, &local) != nullptr;
#endif
    char text[16] = "??:??:??";
    if (converted) std::strftime(text, sizeof(text), "%H:%M:%S", &local);
    return text;
}

}  // namespace

std::string TranscriptEntry(CaptureTime firstSample, const std::string& body) {
    std::string entry = "[" + LocalClockText(firstSample) + "] ";
    entry.reserve(entry.size() + body.size() + 2);
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\r' || c == '\n') {
            // A CR LF, or any run of line breaks, becomes one space.
            if (i == 0 || (body[i - 1] != '\r' && body[i - 1] != '\n')) entry += ' ';
        } else if (c == '\0') {
            entry += "\xEF\xBF\xBD";
        } else {
            entry += c;
        }
    }
    return entry + "\r\n";
}

namespace {
std::mutex g_recordingTranscriptMutex;
std::shared_ptr<Transcript> g_recordingTranscript;  // guarded by the mutex above
}  // namespace

void SetRecordingTranscript(std::shared_ptr<Transcript> transcript) {
    std::shared_ptr<Transcript> previous;  // let go of outside the lock: it may close a file
    std::lock_guard<std::mutex> lock(g_recordingTranscriptMutex);
    previous = std::exchange(g_recordingTranscript, std::move(transcript));
}

TranscriptLine ReserveTranscriptLine(CaptureTime firstSample) {
    std::shared_ptr<Transcript> transcript;
    {
        std::lock_guard<std::mutex> lock(g_recordingTranscriptMutex);
        transcript = g_recordingTranscript;
    }
    return TranscriptLine(std::move(transcript), firstSample);
}
