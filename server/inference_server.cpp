#include "server/inference_server.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "server/answer_budget.h"
#include "server/connection_queue.h"
#include "server/connection_stream.h"
#include "server/socket_platform.h"

namespace speech_server {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr const char* kInferencePath = "/inference";
constexpr const char* kHealthPath = "/health";
constexpr std::size_t kMaxQuotedPathBytes = 200;

// What a connection may read before its body, and beside the body limit: request
// line, headers, part headers, chunk framing.
constexpr std::size_t kHeadAllowance = 64 * 1024;
// Bytes of a multipart body that may be read without reaching a part's content:
// part headers and delimiters take far less, junk that the parser keeps takes more.
constexpr std::size_t kUnparsedSlack = 1024 * 1024;
// How long a refused client is given to stop sending before the connection closes.
constexpr auto kDrainTime = std::chrono::seconds(1);
// How long the light path that refuses connections in excess spends on each: to
// read the request head, and again to drain the body.
constexpr auto kRefusalTime = std::chrono::milliseconds(300);
// Logged for an upload whose client left before its answer (nobody reads it).
constexpr int kClientGoneStatus = 499;

// httplib::Server that serves every connection through `serve` (one request each),
// with a stop that also works before listening has begun: the library's own stop()
// does nothing until its accept loop is running.
class ListeningServer : public httplib::Server {
public:
    explicit ListeningServer(std::function<void(socket_t)> serve) : serve_(std::move(serve)) {}
    void CloseListeningSocket() {
        const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
        if (sock != INVALID_SOCKET) CloseSocket(sock);
    }
    bool listening() const { return svr_sock_ != INVALID_SOCKET; }
    void ServeRequest(httplib::Stream& stream) {
        bool closed = false;
        process_request(stream, true, closed, nullptr);
    }

private:
    bool process_and_close_socket(socket_t sock) override {
        serve_(sock);
        return true;
    }
    std::function<void(socket_t)> serve_;
};

// The request that the current connection thread is serving. A connection is served
// by one thread from its first byte to its close.
struct RequestTrace {
    Clock::time_point start;
    ConnectionStream* stream = nullptr;
    bool head_read = false;
    std::string detail;
};
thread_local RequestTrace t_trace;

std::string ToJson(const nlohmann::json& value) {
    // Text from clients may be invalid UTF-8; replace rather than throw.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void ReplyJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_content(ToJson(body), "application/json");
}

void ReplyError(httplib::Response& res, const UploadError& error) {
    ReplyJson(res, error.status, {{"error", error.message}});
}

std::string AllowedMethods(const std::string& path) {
    if (path == kInferencePath) return "POST";
    if (path == kHealthPath) return "GET, HEAD";
    return {};
}

// Why a body could not be read whole.
UploadError ReadFailure(ConnectionStream::Cut cut, int library_status, const ServerSettings& settings) {
    switch (cut) {
    case ConnectionStream::Cut::kTooLarge:
        return BodyTooLargeError(settings.limits);
    case ConnectionStream::Cut::kTooSlow: {
        char message[160];
        std::snprintf(message, sizeof message,
                      "request not received in time: it must arrive within %g s, with no pause over %g s",
                      Seconds(settings.answer_budget).count(), Seconds(settings.max_pause).count());
        return {408, message};
    }
    case ConnectionStream::Cut::kUnparsed:
    case ConnectionStream::Cut::kNone:
        break;
    }
    return library_status == 413 ? BodyTooLargeError(settings.limits) : MalformedFormError();
}

// For the answers the library makes itself (unknown path, oversized or malformed
// request): a JSON body like every other refusal, and 405 instead of 404 for a
// known path asked with the wrong method.
void DescribeLibraryError(const httplib::Request& req, httplib::Response& res, const ServerSettings& settings) {
    const ConnectionStream::Cut cut = t_trace.stream->cut();
    if (cut == ConnectionStream::Cut::kTooLarge) {
        const std::string limit = DescribeByteCount(kHeadAllowance);
        ReplyError(res, t_trace.head_read
                            ? UploadError{413, "request larger than " + limit + " (only uploads to /inference may be)"}
                            : UploadError{431, "request head larger than " + limit});
        return;
    }
    if (cut == ConnectionStream::Cut::kTooSlow) {
        ReplyError(res, ReadFailure(cut, res.status, settings));
        return;
    }
    const std::string target = req.method + " " + req.path.substr(0, kMaxQuotedPathBytes);
    if (res.status == 404) {
        const std::string allowed = AllowedMethods(req.path);
        if (!allowed.empty()) {
            res.set_header("Allow", allowed);
            ReplyError(res, {405, "method not allowed: " + target + " (allowed: " + allowed + ")"});
        } else {
            ReplyError(res, {404, "no such endpoint: " + target +
                                      " (use POST /inference or GET /health)"});
        }
    } else if (res.status == 413) {
        ReplyError(res, BodyTooLargeError(settings.limits));
    } else {
        ReplyError(res, {res.status, "request rejected (HTTP " + std::to_string(res.status) + ")"});
    }
}

// Request text goes to a console: a control character (an encoded line feed in the
// path, an escape sequence in the method) must not start a fake line or drive the
// terminal, so everything outside printable ASCII becomes '?'.
std::string Printable(const std::string& text) {
    std::string printable = text.substr(0, kMaxQuotedPathBytes);
    for (char& c : printable) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) c = '?';
    }
    return printable;
}

std::string FormatLogLine(const httplib::Request& req, const httplib::Response& res) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f ms",
                  std::chrono::duration<double, std::milli>(Clock::now() - t_trace.start).count());
    std::string line = Printable(req.method) + " " + Printable(req.path) + " " + std::to_string(res.status) + " " + duration;
    if (!t_trace.detail.empty()) line += " " + t_trace.detail;
    return line;
}

// Ends an upload's admission when its handling ends, however it ends.
struct AdmissionEnd {
    AnswerBudget& budget;
    ~AdmissionEnd() { budget.Finish(); }
};

std::string RecognitionDetail(const Upload& upload, Seconds queued, Seconds recognition) {
    const double audio = static_cast<double>(upload.samples.size()) / kSampleRate;
    char text[160];
    std::snprintf(text, sizeof text, "language=%s audio=%.2fs queued=%.3fs recognition=%.3fs rtf=%.3f",
                  upload.language.c_str(), audio, queued.count(), recognition.count(),
                  recognition.count() / audio);
    return text;
}

}  // namespace

struct InferenceServer::Impl {
    Impl(ServerSettings settings, RequestLogger log)
        : settings(std::move(settings)),
          log(std::move(log)),
          budget(this->settings.answer_budget),
          http([this](socket_t sock) { ServeConnection(sock); }) {}

    void Configure();
    void ServeConnection(socket_t sock);
    void HandleInference(const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader);
    void Recognise(Upload& upload, httplib::Response& res);
    void ReplyBusy(httplib::Response& res) const;

    RecognizerPool* pool = nullptr;  // set by Run before the first request
    const ServerSettings settings;
    const RequestLogger log;
    AnswerBudget budget;
    ListeningServer http;
    int port = 0;
};

void InferenceServer::Impl::Configure() {
    // Made when listening starts: enough connection threads to keep every recogniser
    // busy and still answer health checks meanwhile; the queue refuses the rest.
    http.new_task_queue = [this] {
        return new ConnectionQueue(std::max(settings.connection_threads, pool->size() + 2));
    };
    // A second server on the same port fails to bind instead of sharing it.
    http.set_socket_options(MakePortExclusive);
    http.set_payload_max_length(settings.limits.max_body_bytes);
    // One request per connection: clients open a new one per upload anyway, and idle
    // connections would otherwise hold threads and delay shutdown.
    http.set_keep_alive_max_count(1);

    http.set_pre_routing_handler([this](const httplib::Request&, httplib::Response& res) {
        t_trace.head_read = true;
        if (!ConnectionQueue::current().overflow) return httplib::Server::HandlerResponse::Unhandled;
        ReplyBusy(res);
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Get(kHealthPath, [](const httplib::Request&, httplib::Response& res) {
        ReplyJson(res, 200, {{"status", "ok"}});
    });
    http.Post(kInferencePath, [this](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) { HandleInference(req, res, reader); });
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;  // already ours
            DescribeLibraryError(req, res, settings);
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
        std::string what = "unknown failure";
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        ReplyError(res, {500, "internal error: " + what});
    });
    http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        log(FormatLogLine(req, res));
    });
}

void InferenceServer::Impl::ServeConnection(socket_t sock) {
    // Every wait counts from the accept, also the wait for a connection thread.
    const ConnectionQueue::Arrival& arrival = ConnectionQueue::current();
    if (arrival.unanswered) {
        CloseSocket(sock);
        return;
    }
    // A connection that only gets refused is given little time: the light path that
    // refuses it has one thread for all.
    const auto allowed = arrival.overflow ? kRefusalTime : settings.answer_budget;
    // Only an upload may send more than a request head; HandleInference allows it.
    ConnectionStream stream(sock, {kHeadAllowance, arrival.accepted + allowed, settings.max_pause, settings.max_pause});
    t_trace = RequestTrace{arrival.accepted, &stream, false, {}};
    // Connections still waiting when the server stops are closed unanswered.
    if (http.listening()) http.ServeRequest(stream);
    stream.Drain(DrainLimit(settings.limits), Clock::now() + (arrival.overflow ? kRefusalTime : kDrainTime));
    CloseSocket(sock);
    t_trace = RequestTrace{};
}

void InferenceServer::Impl::HandleInference(const httplib::Request& req, httplib::Response& res,
                                            const httplib::ContentReader& reader) {
    const UploadLimits& limits = settings.limits;
    ConnectionStream& stream = *t_trace.stream;
    // An announced length over the limit is refused before any of the body is read.
    if (req.get_header_value<std::uint64_t>("Content-Length") > limits.max_body_bytes) {
        ReplyError(res, BodyTooLargeError(limits));
        return;
    }
    // Refused before its body is read when the uploads admitted before it already
    // take the recognisers past its answer budget.
    if (!budget.Admit(Clock::now() - t_trace.start, pool->size())) {
        ReplyBusy(res);
        return;
    }
    const AdmissionEnd admitted{budget};
    stream.AllowBytes(limits.max_body_bytes + kHeadAllowance);
    if (!req.is_multipart_form_data()) {
        // Read the body up to the limit, to tell a body too large from one of the wrong kind.
        std::size_t received = 0;
        reader([&](const char*, std::size_t size) {
            received += size;
            return received <= limits.max_body_bytes;
        });
        ReplyError(res, received > limits.max_body_bytes || stream.cut() == ConnectionStream::Cut::kTooLarge
                            ? BodyTooLargeError(limits)
                            : NotMultipartError());
        return;
    }
    UploadForm form(limits);
    stream.LimitUnconsumed(kUnparsedSlack);
    const bool complete = reader(
        [&](const httplib::MultipartFormData& part) { return form.BeginPart(part.name); },
        [&](const char* data, std::size_t size) {
            stream.Consumed(size);
            return form.AppendContent(data, size);
        });
    if (!complete && !form.error()) {
        ReplyError(res, ReadFailure(stream.cut(), res.status, settings));
        return;
    }
    auto checked = CheckUpload(form, limits);
    if (const auto* error = std::get_if<UploadError>(&checked)) {
        ReplyError(res, *error);
        return;
    }
    Recognise(std::get<Upload>(checked), res);
}

void InferenceServer::Impl::ReplyBusy(httplib::Response& res) const {
    res.set_header("Retry-After", "5");
    char message[160];
    std::snprintf(message, sizeof message,
                  "server busy: all %zu recognisers are taken and this upload could not be answered "
                  "within %g s; try again later",
                  pool->size(), Seconds(settings.answer_budget).count());
    ReplyError(res, {503, message});
}

void InferenceServer::Impl::Recognise(Upload& upload, httplib::Response& res) {
    const double audio_seconds = static_cast<double>(upload.samples.size()) / kSampleRate;
    std::optional<RecognizerPool::Lease> recognizer =
        pool->Acquire(budget.Patience(Clock::now() - t_trace.start, audio_seconds));
    if (!recognizer) {
        ReplyBusy(res);
        return;
    }
    // Nobody waits for the answer of a client that has gone: its recognition is not
    // started. Once begun it runs to its end (see SpeechRecognizer::Recognize).
    if (t_trace.stream->PeerHasLeft()) {
        t_trace.detail = "client gone, recognition skipped";
        ReplyError(res, {kClientGoneStatus, "client closed the connection before its answer"});
        return;
    }
    const Clock::time_point started = Clock::now();
    const std::string text = (*recognizer)->Recognize(upload.samples.data(), upload.samples.size());
    recognizer.reset();
    const Seconds recognition = Clock::now() - started;
    budget.Record(audio_seconds, recognition.count());
    t_trace.detail = RecognitionDetail(upload, started - t_trace.start, recognition);
    ReplyJson(res, 200, {{"text", text}});
}

InferenceServer::InferenceServer(ServerSettings settings, RequestLogger log)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(log))) {
    // A client that hangs up mid-answer must cost one connection, not the process.
    IgnoreBrokenPipes();
    impl_->Configure();
}

InferenceServer::~InferenceServer() { impl_->http.CloseListeningSocket(); }

bool InferenceServer::Bind(const std::string& host, int port, std::string& error) {
    ClearSocketError();
    const int bound = port == 0 ? impl_->http.bind_to_any_port(host) : (impl_->http.bind_to_port(host, port) ? port : -1);
    if (bound <= 0) {
        const std::string reason = SocketErrorText();
        error = "cannot listen on " + host + ":" + std::to_string(port);
        if (!reason.empty()) error += ": " + reason;
        return false;
    }
    impl_->port = bound;
    return true;
}

int InferenceServer::port() const { return impl_->port; }

void InferenceServer::Run(RecognizerPool& pool) {
    impl_->pool = &pool;
    impl_->http.listen_after_bind();
}

void InferenceServer::Stop() { impl_->http.CloseListeningSocket(); }

}  // namespace speech_server
