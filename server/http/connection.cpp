#include "server/http/connection.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>

namespace speech_server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using Seconds = std::chrono::duration<double>;

namespace {

// A connection on the refusing path is answered within a second: half for its head
// (a health check's is tiny), half for the answer and what follows it.
constexpr auto kRefusalHeadTime = std::chrono::milliseconds(500);
constexpr auto kRefusalDrainTime = std::chrono::milliseconds(500);
// After a refusal the server reads and drops what the client still sends, so that
// closing does not reset the connection under the answer.
constexpr auto kDrainTime = std::chrono::seconds(1);
// Bytes a client may send after its whole request while its upload waits; more ends the watch.
constexpr std::size_t kMaxBytesAfterRequest = 64 * 1024;
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
// After a FIN: two probes this far apart, time enough for a reset to come back.
constexpr int kProbes = 2;
constexpr auto kPeerCheckPeriod = std::chrono::milliseconds(100);

std::string Normalised(beast::string_view text) { return NormalisedHeaderWord({text.data(), text.size()}); }

std::string RecognitionDetail(const Upload& upload, Seconds queued, Seconds recognition) {
    const double audio = static_cast<double>(upload.samples.size()) / kSampleRate;
    char text[160];
    std::snprintf(text, sizeof text, "language=%s audio=%.2fs queued=%.3fs recognition=%.3fs rtf=%.3f",
                  upload.language.c_str(), audio, queued.count(), recognition.count(), recognition.count() / audio);
    return text;
}

}  // namespace

struct Connection::Recognition {
    enum class Kind { kText, kRefused, kClientGone, kDropped } kind = Kind::kText;
    std::string text;    // the transcript
    std::string detail;  // for the log line
    UploadError error;
};

// An admitted upload on its way through the recognition queue. It keeps its connection
// (and the I/O thread's work) alive until its outcome is back on the I/O thread.
class UploadJob : public RecognitionJob {
public:
    UploadJob(std::shared_ptr<Connection> connection, UploadForm form, const ServerSettings& settings,
              AnswerBudget& budget, Connection::Clock::time_point accepted, asio::any_io_executor io)
        : connection_(std::move(connection)),
          form_(std::move(form)),
          settings_(settings),
          budget_(budget),
          accepted_(accepted),
          work_(asio::make_work_guard(io)) {}

    void Run(SpeechRecognizer& recognizer) override {
        Connection::Recognition outcome;
        try {
            outcome = Recognise(recognizer);
        } catch (const std::exception& e) {
            outcome = {Connection::Recognition::Kind::kRefused, {}, {}, InternalError(e.what())};
        }
        Deliver(std::move(outcome));
    }
    void Drop() override { Deliver({Connection::Recognition::Kind::kDropped, {}, {}, {}}); }
    // From the I/O thread: the client reset the connection.
    void ClientGone() { client_gone_ = true; }

private:
    Connection::Recognition Recognise(SpeechRecognizer& recognizer) {
        using Kind = Connection::Recognition::Kind;
        // Nobody waits for the answer of a client that has gone: its recognition is
        // not started. Once begun it runs to its end (see SpeechRecognizer::Recognize).
        if (client_gone_) return {Kind::kClientGone, {}, {}, {}};
        auto checked = CheckUpload(form_, settings_.limits);
        if (auto* error = std::get_if<UploadError>(&checked)) return {Kind::kRefused, {}, {}, *error};
        const Upload& upload = std::get<Upload>(checked);
        const auto started = Connection::Clock::now();
        const std::string text = recognizer.Recognize(upload.samples.data(), upload.samples.size());
        const Seconds recognition = Connection::Clock::now() - started;
        const double audio_seconds = static_cast<double>(upload.samples.size()) / kSampleRate;
        budget_.Record(audio_seconds, recognition.count());
        return {Kind::kText, text, RecognitionDetail(upload, started - accepted_, recognition), {}};
    }

    // The connection goes with the outcome, so that it ends on the I/O thread.
    void Deliver(Connection::Recognition outcome) {
        asio::post(work_.get_executor(), [connection = std::move(connection_), outcome = std::move(outcome)] {
            connection->OnRecognised(outcome);
        });
        work_.reset();
    }

    std::shared_ptr<Connection> connection_;
    const UploadForm form_;
    const ServerSettings& settings_;
    AnswerBudget& budget_;
    const Connection::Clock::time_point accepted_;
    asio::executor_work_guard<asio::any_io_executor> work_;
    std::atomic<bool> client_gone_{false};
};

Connection::Connection(asio::ip::tcp::socket socket, ServerState& server, bool refusing)
    : socket_(std::move(socket)),
      timer_(socket_.get_executor()),
      server_(server),
      refusing_(refusing),
      accepted_(Clock::now()),
      buffer_(server.settings.max_head_bytes + 1024) {}

void Connection::Start() {
    const ServerSettings& settings = server_.settings;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(settings.max_head_bytes));
    parser_->body_limit(settings.limits.max_body_bytes);
    ArmDeadline(accepted_ + (refusing_ ? std::chrono::duration_cast<Clock::duration>(kRefusalHeadTime)
                                       : std::chrono::duration_cast<Clock::duration>(settings.head_time)));
    http::async_read_header(socket_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnHead(error); });
}

// One timer for every wait: the engine's read or write is cancelled when it fires.
void Connection::ArmDeadline(Clock::time_point deadline) {
    timed_out_ = false;
    timer_.expires_at(deadline);
    timer_.async_wait([self = shared_from_this(), generation = ++deadline_generation_](beast::error_code error) {
        if (!error) self->OnDeadline(generation);
    });
}

void Connection::OnDeadline(unsigned generation) {
    // A wait replaced after this one had already expired is not cut short by it.
    if (generation != deadline_generation_ || phase_ == Phase::kClosed) return;
    timed_out_ = true;
    beast::error_code ignored;
    socket_.cancel(ignored);
}

void Connection::OnHead(beast::error_code error) {
    if (phase_ == Phase::kClosed) return;
    const auto& request = parser_->get();
    method_ = std::string(request.method_string());
    const std::string target(request.target());
    path_ = target.substr(0, target.find('?'));
    if (refusing_ && (error || timed_out_)) return Reply(BusyAnswer(ConnectionsBusyMessage(server_.settings)));
    if (timed_out_) return Refuse(HeadTooSlowError(server_.settings));
    if (error == http::error::end_of_stream) return Close();  // connected and left without a word
    if (error == http::error::header_limit || error == http::error::buffer_overflow)
        return Refuse(HeadTooLargeError(server_.settings));
    if (error == http::error::body_limit) return Refuse(BodyTooLargeError(server_.settings.limits));
    if (error) return Refuse(MalformedRequestError(error.message()));
    Route();
}

void Connection::Route() {
    const auto verb = parser_->get().method();
    const bool health_check = path_ == kHealthPath && (verb == http::verb::get || verb == http::verb::head);
    // Health checks never wait for admission: a busy server is still alive.
    if (health_check) {
        request_read_ = !parser_->chunked() && parser_->content_length().value_or(0) == 0;
        return Reply(HealthAnswer(verb == http::verb::head));
    }
    if (refusing_) return Reply(BusyAnswer(ConnectionsBusyMessage(server_.settings)));
    if (path_ != kInferencePath || verb != http::verb::post) return Reply(NoRouteAnswer(method_, path_));
    StartUpload();
}

// Everything that can be judged from the head is judged before any of the body is read.
void Connection::StartUpload() {
    const auto& request = parser_->get();
    const UploadLimits& limits = server_.settings.limits;
    const auto encoding = request[http::field::content_encoding];
    if (!encoding.empty() && Normalised(encoding) != "identity") return Refuse(ContentEncodingError(std::string(encoding)));
    const auto transfer = request[http::field::transfer_encoding];
    if (!transfer.empty() && Normalised(transfer) != "chunked") return Refuse(TransferEncodingError(std::string(transfer)));
    if (!parser_->chunked() && !parser_->content_length()) return Refuse(LengthRequiredError());
    if (parser_->content_length().value_or(0) > limits.max_body_bytes) return Refuse(BodyTooLargeError(limits));
    const auto content_type = request[http::field::content_type];
    const auto boundary = MultipartBoundary({content_type.data(), content_type.size()});
    if (!boundary) return Refuse(NotMultipartError());
    if (boundary->empty()) return Refuse(MalformedFormError());
    // The one admission point of an upload.
    const std::size_t workers = server_.queue->workers();
    if (!server_.budget.Admit(Clock::now() - accepted_, workers))
        return Reply(BusyAnswer(RecognisersBusyMessage(workers, server_.settings)));
    admitted_ = true;
    form_.emplace(limits);
    reader_.emplace(*boundary, *form_);
    phase_ = Phase::kBody;
    if (Normalised(request[http::field::expect]) != "100-continue") return ReadBody();
    asio::async_write(socket_, asio::buffer(kContinue, sizeof kContinue - 1),
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                          if (self->phase_ != Phase::kBody) return;
                          if (error) return self->Refuse(IncompleteRequestError());
                          self->ReadBody();
                      });
}

void Connection::ReadBody() {
    const ServerSettings& settings = server_.settings;
    auto& body = parser_->get().body();
    body.data = piece_.data();
    body.size = piece_.size();
    ArmDeadline(std::min(accepted_ + settings.answer_budget, Clock::now() + settings.max_pause));
    http::async_read_some(socket_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnBody(error); });
}

void Connection::OnBody(beast::error_code error) {
    if (phase_ != Phase::kBody) return;
    if (error == http::error::need_buffer) error = {};
    const std::size_t received = piece_.size() - parser_->get().body().size;
    if (timed_out_) return Refuse(BodyTooSlowError(server_.settings));
    if (error == http::error::body_limit) return Refuse(BodyTooLargeError(server_.settings.limits));
    if (error == http::error::partial_message || error == asio::error::eof) return Refuse(IncompleteRequestError());
    if (error) return Refuse(MalformedRequestError(error.message()));
    if (received > 0 && !reader_->Feed(piece_.data(), received))
        return Refuse(form_->error() ? *form_->error() : MalformedFormError());
    if (!parser_->is_done()) return ReadBody();
    request_read_ = true;
    if (!reader_->Finish()) return Refuse(MalformedFormError());
    SubmitUpload();
}

void Connection::SubmitUpload() {
    phase_ = Phase::kRecognition;
    timer_.cancel();
    reader_.reset();
    job_ = std::make_shared<UploadJob>(shared_from_this(), std::move(*form_), server_.settings, server_.budget,
                                       accepted_, socket_.get_executor());
    form_.reset();
    WatchPeer();
    server_.queue->Submit(job_);
}

// While its upload waits, a client that resets the connection has gone. A client that
// closes it cannot be told from one that only half-closed (ended its sending side) and
// still reads its answer: both send a FIN, and reads then report only the end. So after
// a FIN the server sends a 100 Continue, which a client must take as an interim answer,
// and a moment later another: a closed socket has answered the first with a reset, and
// the second write fails.
void Connection::WatchPeer() {
    socket_.async_read_some(asio::buffer(piece_), [self = shared_from_this()](beast::error_code error, std::size_t size) {
        if (self->phase_ != Phase::kRecognition || error == asio::error::operation_aborted) return;
        if (error == asio::error::eof) return self->ProbePeer();
        if (error) return self->job_->ClientGone();
        self->drained_ += size;
        if (self->drained_ < kMaxBytesAfterRequest) self->WatchPeer();
    });
}

void Connection::ProbePeer() {
    beast::error_code failed;
    socket_.write_some(asio::buffer(kContinue, sizeof kContinue - 1), failed);
    if (failed) return job_->ClientGone();
    if (++probes_ == kProbes) return;
    timer_.expires_after(kPeerCheckPeriod);
    timer_.async_wait([self = shared_from_this()](beast::error_code error) {
        if (!error && self->phase_ == Phase::kRecognition) self->ProbePeer();
    });
}

void Connection::OnRecognised(const Recognition& outcome) {
    job_.reset();
    EndAdmission();
    if (phase_ != Phase::kRecognition) return;
    using Kind = Recognition::Kind;
    switch (outcome.kind) {
    case Kind::kText:
        detail_ = outcome.detail;
        return Reply(TextAnswer(outcome.text));
    case Kind::kRefused:
        return Refuse(outcome.error);
    case Kind::kDropped:
        return Reply(BusyAnswer(StoppingMessage()));
    case Kind::kClientGone:
        detail_ = "client gone, recognition skipped";
        server_.log(LogLine(method_, path_, kClientGoneStatus, Clock::now() - accepted_, detail_));
        return Close();
    }
}

void Connection::Reply(Answer answer) {
    phase_ = Phase::kAnswer;
    answer_ = std::make_shared<Answer>(std::move(answer));
    ArmDeadline(Clock::now() + server_.settings.max_pause);
    http::async_write(socket_, *answer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
        self->OnAnswered(error);
    });
}

void Connection::OnAnswered(beast::error_code error) {
    if (phase_ != Phase::kAnswer) return;
    const int status = answer_->result_int();
    server_.log(LogLine(method_, path_, status, Clock::now() - accepted_, error ? "answer not delivered: " + error.message() : detail_));
    EndAdmission();
    if (error || request_read_) return Close();
    phase_ = Phase::kDrain;
    beast::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    ArmDeadline(Clock::now() + (refusing_ ? std::chrono::duration_cast<Clock::duration>(kRefusalDrainTime)
                                          : std::chrono::duration_cast<Clock::duration>(kDrainTime)));
    Drain();
}

void Connection::Drain() {
    socket_.async_read_some(asio::buffer(piece_), [self = shared_from_this()](beast::error_code error, std::size_t size) {
        if (self->phase_ != Phase::kDrain) return;
        self->drained_ += size;
        if (error || self->timed_out_ || self->drained_ > DrainLimit(self->server_.settings.limits)) return self->Close();
        self->Drain();
    });
}

void Connection::OnStop() {
    if (phase_ == Phase::kHead || phase_ == Phase::kBody || phase_ == Phase::kDrain) Close();
}

void Connection::EndAdmission() {
    if (!admitted_) return;
    admitted_ = false;
    server_.budget.Finish();
}

void Connection::Close() {
    if (phase_ == Phase::kClosed) return;
    phase_ = Phase::kClosed;
    EndAdmission();
    timer_.cancel();
    beast::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (refusing_) --server_.refusing;
    server_.open.erase(shared_from_this());
}

}  // namespace speech_server
