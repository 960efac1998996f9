// HTTP/1.1 requests as the loopback server records them, and their parsing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using HeaderList = std::vector<std::pair<std::string, std::string>>;  // in order, names as sent

// The first header called `name` (case-insensitive), if any.
std::optional<std::string> FindHeader(const HeaderList& headers, std::string_view name);

// One part of a multipart/form-data body.
struct FormPart {
    std::string name;
    std::string filename;     // empty when the part has none
    std::string contentType;  // empty when the part has none
    std::string content;
    HeaderList headers;
};

struct RecordedRequest {
    std::string method;
    std::string target;  // as sent, e.g. "/inference"
    HeaderList headers;
    std::string body;              // the raw body, every byte
    std::vector<FormPart> parts;   // in body order; empty unless a well-formed multipart form

    std::optional<std::string> Header(std::string_view name) const { return FindHeader(headers, name); }
};

// Request line and header lines, without the empty line that ends them. Empty when
// they are malformed.
std::optional<RecordedRequest> ParseRequestHead(std::string_view head);

// The parts of `body` when `contentType` is multipart/form-data with a boundary and the
// body is well formed; otherwise none.
std::vector<FormPart> ParseMultipartForm(std::string_view contentType, std::string_view body);
