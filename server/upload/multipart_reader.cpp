#include "server/upload/multipart_reader.h"

#include <algorithm>
#include <cctype>

namespace speech_server {
namespace {

// A part's header lines together; a real client sends a few hundred bytes.
constexpr std::size_t kMaxPartHeadBytes = 16 * 1024;
constexpr std::size_t kMaxBoundaryLength = 70;

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The value of parameter `name` in "type; a=1; b=\"2\"" (parameter names are
// case-insensitive); empty when absent.
std::optional<std::string> Parameter(std::string_view header, std::string_view name) {
    std::size_t at = header.find(';');
    while (at != std::string_view::npos) {
        const std::size_t next = header.find(';', at + 1);
        const std::string_view item = Trim(header.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && NormalisedHeaderWord(item.substr(0, equals)) == name) {
            std::string_view value = Trim(item.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            return std::string(value);
        }
        at = next;
    }
    return std::nullopt;
}

}  // namespace

std::string NormalisedHeaderWord(std::string_view text) {
    std::string lower(Trim(text));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::optional<std::string> MultipartBoundary(std::string_view content_type) {
    if (NormalisedHeaderWord(content_type.substr(0, content_type.find(';'))) != "multipart/form-data") return std::nullopt;
    const std::string boundary = Parameter(content_type, "boundary").value_or("");
    return boundary.size() <= kMaxBoundaryLength ? boundary : "";
}

// The body is read as if it began with CRLF, so the first delimiter needs no rule of its own.
MultipartReader::MultipartReader(const std::string& boundary, UploadForm& form)
    : delimiter_("\r\n--" + boundary), form_(form), pending_("\r\n") {}

bool MultipartReader::Feed(const char* data, std::size_t size) {
    if (state_ == State::kMalformed || form_.error()) return false;
    if (state_ == State::kEpilogue) return true;  // after the closing delimiter: ignored
    pending_.append(data, size);
    while (Step()) {
    }
    return state_ != State::kMalformed && !form_.error();
}

// One step of the state machine; false when it needs more bytes or has stopped.
bool MultipartReader::Step() {
    switch (state_) {
    case State::kPreamble:
        return SkipToDelimiter(false);
    case State::kContent:
        return SkipToDelimiter(true);
    case State::kAfterDelimiter:
        return ReadDelimiterEnd();
    case State::kHeaders:
        return ReadHeaders();
    case State::kEpilogue:
        pending_.clear();
        return false;
    case State::kMalformed:
        break;
    }
    return false;
}

bool MultipartReader::SkipToDelimiter(bool keep_content) {
    const std::size_t found = pending_.find(delimiter_);
    // Without a delimiter, all but its possible beginning at the end is content.
    const std::size_t done = found == std::string::npos
                                 ? pending_.size() - std::min(pending_.size(), delimiter_.size() - 1)
                                 : found;
    if (keep_content && done > 0 && !form_.AppendContent(pending_.data(), done)) return false;
    if (found == std::string::npos) {
        pending_.erase(0, done);
        return false;
    }
    pending_.erase(0, found + delimiter_.size());
    state_ = State::kAfterDelimiter;
    return !form_.error();
}

// After a delimiter: "--" closes the body, else optional blanks and CRLF open a part.
bool MultipartReader::ReadDelimiterEnd() {
    if (pending_.size() < 2) return false;
    if (pending_.compare(0, 2, "--") == 0) {
        state_ = State::kEpilogue;
        return true;
    }
    const std::size_t blanks = pending_.find_first_not_of(" \t");
    if (blanks == std::string::npos) {
        pending_.clear();
        return false;
    }
    if (pending_.size() - blanks < 2) return false;
    if (pending_.compare(blanks, 2, "\r\n") != 0) {
        state_ = State::kMalformed;
        return false;
    }
    pending_.erase(0, blanks + 2);
    state_ = State::kHeaders;
    return true;
}

bool MultipartReader::ReadHeaders() {
    const std::size_t end = pending_.find("\r\n\r\n");
    const bool no_headers = pending_.compare(0, 2, "\r\n") == 0;
    if (end == std::string::npos && !no_headers) {
        if (pending_.size() > kMaxPartHeadBytes) state_ = State::kMalformed;
        return false;
    }
    const std::size_t head_size = no_headers ? 0 : end + 2;
    if (head_size > kMaxPartHeadBytes) {
        state_ = State::kMalformed;
        return false;
    }
    std::string name;
    for (std::size_t at = 0; at < head_size;) {
        const std::size_t line_end = pending_.find("\r\n", at);
        const std::string_view line(pending_.data() + at, line_end - at);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            state_ = State::kMalformed;
            return false;
        }
        if (NormalisedHeaderWord(line.substr(0, colon)) == "content-disposition")
            name = Parameter(line.substr(colon + 1), "name").value_or("");
        at = line_end + 2;
    }
    pending_.erase(0, head_size + 2);
    state_ = State::kContent;
    return form_.BeginPart(name);
}

}  // namespace speech_server
