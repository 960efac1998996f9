#include "tests/support/http_request.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// "Name: value" lines separated by CRLF; none when a line has no colon.
std::optional<HeaderList> ParseHeaderLines(std::string_view lines) {
    HeaderList headers;
    while (!lines.empty()) {
        const std::size_t end = std::min(lines.find(kLineEnd), lines.size());
        const std::string_view line = lines.substr(0, end);
        lines.remove_prefix(std::min(end + kLineEnd.size(), lines.size()));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        headers.emplace_back(std::string(line.substr(0, colon)), std::string(Trim(line.substr(colon + 1))));
    }
    return headers;
}

// The value of parameter `key` in a header value such as `form-data; name="file"`.
std::string Parameter(std::string_view value, std::string_view key) {
    std::size_t start = value.find(';');
    while (start != std::string_view::npos) {
        const std::size_t end = std::min(value.find(';', start + 1), value.size());
        const std::string_view item = Trim(value.substr(start + 1, end - start - 1));
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && SameLetters(Trim(item.substr(0, equals)), key)) {
            std::string_view found = Trim(item.substr(equals + 1));
            if (found.size() >= 2 && found.front() == '"' && found.back() == '"') found = found.substr(1, found.size() - 2);
            return std::string(found);
        }
        start = end < value.size() ? end : std::string_view::npos;
    }
    return {};
}

}  // namespace

std::optional<std::string> FindHeader(const HeaderList& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (SameLetters(key, name)) return value;
    }
    return std::nullopt;
}

std::optional<RecordedRequest> ParseRequestHead(std::string_view head) {
    const std::size_t lineEnd = std::min(head.find(kLineEnd), head.size());
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == lastSpace) return std::nullopt;

    auto headers = ParseHeaderLines(head.substr(std::min(lineEnd + kLineEnd.size(), head.size())));
    if (!headers) return std::nullopt;
    RecordedRequest request;
    request.method = std::string(requestLine.substr(0, firstSpace));
    request.target = std::string(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
    request.headers = std::move(*headers);
    return request;
}

std::vector<FormPart> ParseMultipartForm(std::string_view contentType, std::string_view body) {
    const std::size_t semicolon = std::min(contentType.find(';'), contentType.size());
    const std::string boundary = Parameter(contentType, "boundary");
    if (!SameLetters(Trim(contentType.substr(0, semicolon)), "multipart/form-data") || boundary.empty()) return {};

    const std::string delimiter = "--" + boundary;
    const std::string nextDelimiter = std::string(kLineEnd) + delimiter;
    std::size_t position = body.find(delimiter);
    if (position == std::string_view::npos) return {};
    position += delimiter.size();

    std::vector<FormPart> parts;
    while (body.substr(position, 2) != "--") {
        if (body.substr(position, 2) != kLineEnd) return {};
        // The part's headers end in an empty line; a part without headers starts with it.
        const std::size_t headersEnd = body.find("\r\n\r\n", position);
        const std::size_t contentEnd = body.find(nextDelimiter, position);
        if (headersEnd == std::string_view::npos || contentEnd == std::string_view::npos || headersEnd > contentEnd) return {};
        const std::size_t headersStart = std::min(position + kLineEnd.size(), headersEnd);
        auto headers = ParseHeaderLines(body.substr(headersStart, headersEnd - headersStart));
        if (!headers) return {};

        FormPart part;
        const std::string disposition = FindHeader(*headers, "Content-Disposition").value_or("");
        part.name = Parameter(disposition, "name");
        part.filename = Parameter(disposition, "filename");
        part.contentType = FindHeader(*headers, "Content-Type").value_or("");
        const std::size_t contentStart = headersEnd + 4;
        part.content = std::string(body.substr(contentStart, contentEnd - contentStart));
        part.headers = std::move(*headers);
        parts.push_back(std::move(part));
        position = contentEnd + nextDelimiter.size();
    }
    return parts;
}
