// One client connection, from its accept to its close: the request head within its
// time, the route, the admission of an upload, its body within the body's time and
// pauses, its recognition in the queue, the answer, and one log line. Everything here
// runs on the server's I/O thread; only the recognition runs on a worker.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "server/admission/answer_budget.h"
#include "server/admission/recognition_queue.h"
#include "server/http/answers.h"
#include "server/http/inference_server.h"
#include "server/upload/multipart_reader.h"

namespace speech_server {

class Connection;
class UploadJob;

// What the connections of one server share; touched on the I/O thread only.
struct ServerState {
    const ServerSettings& settings;
    const RequestLogger& log;
    AnswerBudget& budget;
    RecognitionQueue* queue = nullptr;  // while Run runs
    bool stopping = false;
    std::unordered_set<std::shared_ptr<Connection>> open;
    std::size_t refusing = 0;  // of `open`, those only answered 503
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    using Clock = std::chrono::steady_clock;

    // `refusing`: the server has no room; it answers 503 (a health check 200) at once.
    Connection(boost::asio::ip::tcp::socket socket, ServerState& server, bool refusing);
    void Start();
    // The server stops: a connection closes at once unless its upload is queued (it
    // hears 503) or recognised, or its answer is on its way.
    void OnStop();
    bool refusing() const { return refusing_; }

    struct Recognition;  // what a worker hands back
    void OnRecognised(const Recognition& outcome);

private:
    using Parser = boost::beast::http::request_parser<boost::beast::http::buffer_body>;
    enum class Phase { kHead, kBody, kRecognition, kAnswer, kDrain, kClosed };

    void ArmDeadline(Clock::time_point deadline);
    void OnDeadline(unsigned generation);
    void OnHead(boost::beast::error_code error);
    void Route();
    void StartUpload();
    void ReadBody();
    void OnBody(boost::beast::error_code error);
    void SubmitUpload();
    void WatchPeer();
    void ProbePeer();
    void Reply(Answer answer);
    void Refuse(const UploadError& error) { Reply(ErrorAnswer(error)); }
    void OnAnswered(boost::beast::error_code error);
    void Drain();
    void Close();
    void EndAdmission();

    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer timer_;
    ServerState& server_;
    const bool refusing_;
    const Clock::time_point accepted_;
    Phase phase_ = Phase::kHead;
    unsigned deadline_generation_ = 0;
    bool timed_out_ = false;
    bool request_read_ = false;  // all of it: nothing left to drain
    bool admitted_ = false;
    int probes_ = 0;  // 100 Continues sent to tell a closed client from a half-closed one
    boost::beast::flat_buffer buffer_;
    std::optional<Parser> parser_;
    std::string method_, path_, detail_;
    std::optional<UploadForm> form_;
    std::optional<MultipartReader> reader_;
    std::shared_ptr<UploadJob> job_;
    std::shared_ptr<Answer> answer_;
    std::array<char, 16 * 1024> piece_{};
    std::size_t drained_ = 0;
};

}  // namespace speech_server
