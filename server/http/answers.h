// What the server answers and logs: every status with its JSON body, in one place.
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <string>

#include "server/upload/upload.h"

namespace speech_server {

struct ServerSettings;

constexpr const char* kInferencePath = "/inference";
constexpr const char* kHealthPath = "/health";
// Logged for an upload whose client left before its answer; never sent.
constexpr int kClientGoneStatus = 499;
// How long a refused client is asked to wait before trying again.
constexpr const char* kRetryAfterSeconds = "5";

using Answer = boost::beast::http::response<boost::beast::http::string_body>;

// A JSON answer that closes the connection; a HEAD request's has its length but no body.
Answer JsonAnswer(int status, const std::string& json, bool head_request);
Answer ErrorAnswer(const UploadError& error);
Answer HealthAnswer(bool head_request);
Answer TextAnswer(const std::string& text);
// 503 with Retry-After.
Answer BusyAnswer(const std::string& message);
// 405 with Allow, or 404; `path` as the client sent it.
Answer NoRouteAnswer(const std::string& method, const std::string& path);

std::string RecognisersBusyMessage(std::size_t workers, const ServerSettings& settings);
std::string ConnectionsBusyMessage(const ServerSettings& settings);
std::string StoppingMessage();
UploadError HeadTooSlowError(const ServerSettings& settings);
UploadError BodyTooSlowError(const ServerSettings& settings);
UploadError HeadTooLargeError(const ServerSettings& settings);
UploadError MalformedRequestError(const std::string& reason);
UploadError LengthRequiredError();
UploadError ContentEncodingError(const std::string& encoding);
UploadError TransferEncodingError(const std::string& encoding);
UploadError IncompleteRequestError();
UploadError InternalError(const std::string& what);

// Request text for a console: a control character (a line feed in the path, an escape
// sequence in the method) must not start a fake line or drive the terminal, so
// everything outside printable ASCII becomes '?', and it is cut short.
std::string Printable(const std::string& text);

// "METHOD PATH STATUS DURATION ms[ DETAIL]".
std::string LogLine(const std::string& method, const std::string& path, int status,
                    std::chrono::steady_clock::duration since_accept, const std::string& detail);

}  // namespace speech_server
