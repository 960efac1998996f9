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

#include "server/recognizer_pool.h"
#include "server/upload.h"

namespace speech_server {

struct ServerSettings {
    UploadLimits limits;
    // The time from a request's start to its answer that a request may plan for;
    // below the client's 15 s limit. A request that would have to wait longer for a
    // recogniser is refused with 503 (see AnswerBudget).
    std::chrono::milliseconds answer_budget{14000};
    // A request must arrive whole within the answer budget, and with no pause longer
    // than this; else it is refused with 408.
    std::chrono::milliseconds max_pause{5000};
    std::size_t connection_threads = 8;
};

// Receives one finished line (no line feed) per request; called from request threads.
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

    // Serves with the recognisers of `pool` until Stop, then returns once every
    // request in progress has been answered. Returns at once when Stop came first.
    void Run(RecognizerPool& pool);
    // Callable from any thread, before or during Run, any number of times.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace speech_server
