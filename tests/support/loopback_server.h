// A real HTTP/1.1 server on 127.0.0.1 for tests and benchmarks. It records every
// request and answers "/inference" as the test says, including deliberate faults: a
// late answer, a connection cut mid-answer, an answer without end.
//
// One thread per connection, one request per connection ("Connection: close").
// Stop (or the destructor) cuts open connections and joins every thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/http_request.h"
#include "tests/support/loopback_socket.h"

struct Reply {
    Reply() = default;
    Reply(int status, std::string body) : status(status), body(std::move(body)) {}

    int status = 200;
    std::string body;
    HeaderList headers{{"Content-Type", "application/json"}};  // Content-Length is added
    std::chrono::milliseconds delay{0};  // wait before the status line is sent
    // Close the connection after this many bytes of the answer (status line, headers and
    // body together), while Content-Length still announces the whole body.
    std::optional<std::size_t> cutAfter;
    // No Content-Length: `body` (64 KiB of 'x' when empty) is sent again and again until
    // the client goes away or the server stops.
    bool endless = false;
};

// The status line and headers the server sends for `reply`, empty line included.
std::string ResponseHead(const Reply& reply);

class LoopbackServer {
public:
    // Computes the answer of one request; called on connection threads, maybe at once.
    using Handler = std::function<Reply(const RecordedRequest&)>;

    // Listens on 127.0.0.1 at a free port; throws std::runtime_error when it cannot.
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return port_; }

    // Answers every request for "/inference" with `reply`, anything else with 404
    // "not found". The initial answer is 200 with an empty body.
    void SetReply(Reply reply);
    // Answers every request, whatever its target, with what `handler` returns.
    void SetHandler(Handler handler);

    // Every complete request received so far, in order of arrival.
    std::vector<RecordedRequest> Requests() const;
    // False when fewer than `count` requests arrived within `timeout`.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

    // Stops accepting, cuts open connections and joins every thread. Idempotent.
    void Stop();

private:
    struct Connection {
        Socket socket;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void AcceptLoop();
    void JoinFinishedConnections();
    void Serve(Connection& connection);
    std::optional<RecordedRequest> ReadRequest(const Socket& socket);
    bool ReceiveMore(const Socket& socket, std::string& data);
    bool SendAll(const Socket& socket, std::string_view data);
    void Answer(const Socket& socket, const Reply& reply);
    bool Pause(std::chrono::milliseconds delay);  // false when the server stops meanwhile

    SocketLibrary library_;
    Socket listener_;
    std::uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;  // a request arrived or the server stops
    std::atomic<bool> stopping_{false};  // set under mutex_, read by the polling loops too
    Handler handler_;
    std::vector<RecordedRequest> requests_;

    std::list<std::unique_ptr<Connection>> connections_;  // touched by the accept thread, then Stop
    std::thread acceptThread_;
};
