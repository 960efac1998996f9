// Splits a multipart/form-data body into its parts while it streams in, handing each
// part's name and content to an UploadForm. It keeps no more of the body than one
// read, a delimiter's length and one part's headers, so neither junk nor a part that
// never ends makes it grow.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "server/upload/upload.h"

namespace speech_server {

// A header's word as compared: lower case, without surrounding blanks.
std::string NormalisedHeaderWord(std::string_view text);

// The boundary of a "multipart/form-data; boundary=..." media type (quoted or not):
// none for another type, empty when the boundary is missing or longer than 70 bytes.
std::optional<std::string> MultipartBoundary(std::string_view content_type);

class MultipartReader {
public:
    MultipartReader(const std::string& boundary, UploadForm& form);

    // Takes the next bytes of the body. Returns false once the body is malformed
    // (malformed() is then true) or the form has refused it (form.error()).
    bool Feed(const char* data, std::size_t size);
    // At the end of the body: true when it ended with the closing delimiter.
    bool Finish() const { return state_ == State::kEpilogue; }
    bool malformed() const { return state_ == State::kMalformed; }

private:
    enum class State { kPreamble, kAfterDelimiter, kHeaders, kContent, kEpilogue, kMalformed };

    bool Step();
    bool SkipToDelimiter(bool keep_content);
    bool ReadDelimiterEnd();
    bool ReadHeaders();

    const std::string delimiter_;  // CRLF "--" boundary
    UploadForm& form_;
    State state_ = State::kPreamble;
    std::string pending_;
};

}  // namespace speech_server
