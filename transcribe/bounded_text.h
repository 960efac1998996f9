// A stream buffer that keeps the first `capacity` bytes written to it and then stops
// the writer, so that text which may grow far beyond what anyone will read is never
// made whole: std::ostream rethrows the buffer's TextBoundReached when the stream has
// badbit set in exceptions().
#pragma once

#include <cstddef>
#include <streambuf>
#include <string>

struct TextBoundReached {};

class BoundedTextBuffer : public std::streambuf {
public:
    explicit BoundedTextBuffer(std::size_t capacity) : capacity_(capacity) {}

    // What was kept; after TextBoundReached exactly `capacity` bytes.
    std::string& text() { return text_; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize count) override;

private:
    std::size_t capacity_;
    std::string text_;
};

// The length of the longest prefix of `text` (valid UTF-8 cut anywhere) that ends at a
// character boundary: it drops a last character that the cut left incomplete.
std::size_t Utf8WholePrefix(const std::string& text);
