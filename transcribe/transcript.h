// A recording's transcript: one line per chunk, "[HH:MM:SS] text", in the order the
// chunks were cut, each written and made durable as soon as its answer arrives.
//
// Each cut chunk reserves its line (a TranscriptLine, carried by its job); the worker
// fills it with the chunk's text or the reason it has none, and a line that is never
// filled says "(no text: not sent)" when its job ends, so a gap is never silent. A line
// whose answer arrives before an earlier chunk's waits at the end of the file and moves
// into place when the earlier one comes, so a process killed at any moment leaves every
// line whose answer had arrived.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Wall-clock time at which a sample was captured.
using CaptureTime = std::chrono::system_clock::time_point;

// The pane line, without its reason and line end, that reports a transcript given up.
inline constexpr char kTranscriptNotSaved[] = "[Warn] Transcript not saved: ";

// Where a transcript's bytes go: a file on Windows, memory in tests.
class TranscriptOutput {
public:
    virtual ~TranscriptOutput() = default;
    // Writes `bytes` at `offset`, in one piece, and makes them durable before returning.
    // False with a UTF-8 reason when that failed.
    virtual bool WriteAt(std::uint64_t offset, const std::string& bytes, std::string& error) = 0;
};

class Transcript {
public:
    explicit Transcript(std::unique_ptr<TranscriptOutput> output);
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Reserves the next line, in cut order; returns its number.
    std::uint64_t Reserve();
    // Writes line `number`: `entry` is its whole text, line end included. After the first
    // failed write the transcript is given up: one "[Warn] Transcript not saved: " line
    // goes to the log and later lines are dropped.
    void Complete(std::uint64_t number, const std::string& entry);

private:
    std::mutex mutex_;
    std::unique_ptr<TranscriptOutput> output_;
    std::uint64_t reserved_ = 0;
    std::uint64_t next_ = 0;          // the first line not yet in place
    std::uint64_t placedEnd_ = 0;     // bytes of the lines in place
    std::uint64_t waitingBytes_ = 0;  // bytes of the lines after them, waiting
    std::map<std::uint64_t, std::string> waiting_;
    bool givenUp_ = false;
};

// One chunk's line. Empty (does nothing) when no transcript is kept.
class TranscriptLine {
public:
    TranscriptLine() = default;
    TranscriptLine(std::shared_ptr<Transcript> transcript, CaptureTime firstSample);
    TranscriptLine(TranscriptLine&& other) noexcept;
    TranscriptLine& operator=(TranscriptLine&& other) noexcept;
    ~TranscriptLine();  // an unfilled line says "(no text: not sent)"

    void Text(const std::string& text);       // the chunk's transcript, maybe empty
    void NoText(const std::string& reason);   // why the chunk has none

private:
    void Fill(const std::string& body) noexcept;

    std::shared_ptr<Transcript> transcript_;
    std::uint64_t number_ = 0;
    CaptureTime firstSample_;
};

// The line for a chunk: the local time of `firstSample` as "[HH:MM:SS] ", `body` on one
// line (its line breaks become spaces, a NUL becomes U+FFFD), then CR LF.
std::string TranscriptEntry(CaptureTime firstSample, const std::string& body);

// The transcript that chunks cut from now on are written to; null for none. The window
// sets it for each recording, and the recording's file closes once the window and every
// chunk's line have let go of it.
void SetRecordingTranscript(std::shared_ptr<Transcript> transcript);
// Reserves the next line of the recording's transcript, if there is one.
TranscriptLine ReserveTranscriptLine(CaptureTime firstSample);
