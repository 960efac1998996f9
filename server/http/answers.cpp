#include "server/http/answers.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "server/http/inference_server.h"

namespace speech_server {
namespace {

namespace http = boost::beast::http;
using Seconds = std::chrono::duration<double>;

constexpr std::size_t kMaxQuotedBytes = 200;

std::string ToJson(const nlohmann::json& value) {
    // Text from clients may be invalid UTF-8; replace rather than throw.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Format(const char* format, double a, double b = 0) {
    char text[200];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

Answer JsonAnswer(int status, const std::string& json, bool head_request) {
    Answer answer{static_cast<http::status>(status), 11};
    answer.set(http::field::content_type, "application/json");
    answer.keep_alive(false);
    if (head_request) {
        answer.content_length(json.size());
    } else {
        answer.body() = json;
        answer.prepare_payload();
    }
    return answer;
}

Answer ErrorAnswer(const UploadError& error) {
    return JsonAnswer(error.status, ToJson({{"error", error.message}}), false);
}

Answer HealthAnswer(bool head_request) { return JsonAnswer(200, ToJson({{"status", "ok"}}), head_request); }

Answer TextAnswer(const std::string& text) { return JsonAnswer(200, ToJson({{"text", text}}), false); }

Answer BusyAnswer(const std::string& message) {
    Answer answer = ErrorAnswer({503, message});
    answer.set(http::field::retry_after, kRetryAfterSeconds);
    return answer;
}

Answer NoRouteAnswer(const std::string& method, const std::string& path) {
    const std::string target = method + " " + path.substr(0, kMaxQuotedBytes);
    const char* allowed = path == kInferencePath ? "POST" : path == kHealthPath ? "GET, HEAD" : nullptr;
    if (!allowed) return ErrorAnswer({404, "no such endpoint: " + target + " (use POST /inference or GET /health)"});
    Answer answer = ErrorAnswer({405, "method not allowed: " + target + " (allowed: " + allowed + ")"});
    answer.set(http::field::allow, allowed);
    return answer;
}

std::string RecognisersBusyMessage(std::size_t workers, const ServerSettings& settings) {
    return "server busy: all " + std::to_string(workers) + " recognisers are taken and this upload could not be " +
           Format("answered within %g s; try again later", Seconds(settings.answer_budget).count());
}

std::string ConnectionsBusyMessage(const ServerSettings& settings) {
    return "server busy: " + std::to_string(settings.max_connections) +
           " connections are open, the most it serves at once; try again later";
}

std::string StoppingMessage() { return "server stopping: this upload was not recognised; try another server"; }

UploadError HeadTooSlowError(const ServerSettings& settings) {
    return {408, Format("request head not received within %g s of connecting", Seconds(settings.head_time).count())};
}

UploadError BodyTooSlowError(const ServerSettings& settings) {
    return {408, Format("request not received in time: it must arrive within %g s, with no pause over %g s",
                        Seconds(settings.answer_budget).count(), Seconds(settings.max_pause).count())};
}

UploadError HeadTooLargeError(const ServerSettings& settings) {
    return {431, "request head larger than " + DescribeByteCount(settings.max_head_bytes)};
}

UploadError MalformedRequestError(const std::string& reason) { return {400, "malformed HTTP request: " + reason}; }

UploadError LengthRequiredError() {
    return {411, "length required: send the body with Content-Length or chunked transfer coding"};
}

UploadError ContentEncodingError(const std::string& encoding) {
    return {415, "Content-Encoding \"" + Printable(encoding) + "\" is not accepted: send the upload uncompressed"};
}

UploadError TransferEncodingError(const std::string& encoding) {
    return {501, "Transfer-Encoding \"" + Printable(encoding) + "\" is not supported: use chunked or Content-Length"};
}

UploadError IncompleteRequestError() { return {400, "the client ended the request before its body was whole"}; }

UploadError InternalError(const std::string& what) { return {500, "internal error: " + what}; }

std::string Printable(const std::string& text) {
    std::string printable = text.substr(0, kMaxQuotedBytes);
    for (char& c : printable) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) c = '?';
    }
    return printable;
}

std::string LogLine(const std::string& method, const std::string& path, int status,
                    std::chrono::steady_clock::duration since_accept, const std::string& detail) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f ms", std::chrono::duration<double, std::milli>(since_accept).count());
    std::string line = (method.empty() ? "-" : Printable(method)) + " " + (path.empty() ? "-" : Printable(path)) +
                       " " + std::to_string(status) + " " + duration;
    if (!detail.empty()) line += " " + detail;
    return line;
}

}  // namespace speech_server
