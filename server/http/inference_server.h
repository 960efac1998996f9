// The HTTP face of the recogniser pool:
//   POST /inference  multipart parts "file" (MP3) and "language" -> 200 {"text": "..."}
//   GET  /health     -> 200 {"status": "ok"}
// Every refusal is a JSON object {"error": "..."} with a 4xx or 5xx status.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "server/recognition/recognizer_pool.h"
#include "server/upload/upload.h"

namespace speech_server {

// Every limit of a connection, counted from its accept.
struct ServerSettings {
    UploadLimits limits;
    // Request line and headers together.
    std::size_t max_head_bytes = 64 * 1024;
    // A request head must have come whole by then; the tool sends its own at once.
    std::chrono::milliseconds head_time{2000};
    // From the accept to the answer: what an upload may plan for, below the client's
    // 15 s limit; its body must have come whole by then (see AnswerBudget).
    std::chrono::milliseconds answer_budget{14000};
    // The longest pause while a request comes in, and while its answer goes out.
    std::chrono::milliseconds max_pause{5000};
    // Connections served at once; beyond them up to `max_refused` more are answered
    // 503 at once (health checks 200), and any further one is closed unanswered.
    std::size_t max_connections = 64;
    std::size_t max_refused = 64;
};

// Receives one finished line (no line feed) per request or event; called from the
// server's own threads, one at a time.
using RequestLogger = std::function<void(const std::string&)>;

class InferenceServer {
public:
    InferenceServer(ServerSettings settings, RequestLogger log);
    ~InferenceServer();
    InferenceServer(const InferenceServer&) = delete;
    InferenceServer& operator=(const InferenceServer&) = delete;

    // Opens the listening socket; port 0 takes a free one. On failure returns false
    // and sets `error`. A port that another socket holds is refused.
    bool Bind(const std::string& host, int port, std::string& error);
    int port() const;

    // Serves with the recognisers of `pool` on the calling thread until Stop, then
    // returns true as soon as the recognitions in progress have been answered; at
    // once when Stop came first. Returns false, after logging why, when listening
    // failed without a Stop.
    bool Run(RecognizerPool& pool);
    // Callable from any thread, before or during Run, any number of times.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace speech_server
