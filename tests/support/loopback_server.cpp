#include "tests/support/loopback_server.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace {

// How long a blocked thread waits before it looks at the stop flag again.
constexpr std::chrono::milliseconds kPollSlice{20};
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;
constexpr std::size_t kEndlessPieceBytes = 64 * 1024;
constexpr std::string_view kHeadEnd = "\r\n\r\n";

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 204: return "No Content";
        case 302: return "Found";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

// A Content-Length value: decimal digits only, within the body limit.
std::optional<std::size_t> BodyLength(const RecordedRequest& request) {
    const auto header = request.Header("Content-Length");
    if (!header) return 0;
    if (header->empty() || header->size() > 10 ||
        !std::all_of(header->begin(), header->end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::size_t length = std::strtoull(header->c_str(), nullptr, 10);
    if (length > kMaxBodyBytes) return std::nullopt;
    return length;
}

}  // namespace

std::string ResponseHead(const Reply& reply) {
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) + "\r\n";
    for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
    if (!reply.endless) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

LoopbackServer::LoopbackServer() : listener_(Socket::ListenOnLoopback()), port_(listener_.LocalPort()) {
    SetReply(Reply{});
    acceptThread_ = std::thread(&LoopbackServer::AcceptLoop, this);
}

LoopbackServer::~LoopbackServer() { Stop(); }

void LoopbackServer::SetReply(Reply reply) {
    SetHandler([reply = std::move(reply)](const RecordedRequest& request) {
        if (request.target == "/inference") return reply;
        Reply notFound;
        notFound.status = 404;
        notFound.body = "not found";
        notFound.headers = {{"Content-Type", "text/plain"}};
        return notFound;
    });
}

void LoopbackServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool LoopbackServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void LoopbackServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (acceptThread_.joinable()) acceptThread_.join();
    for (const auto& connection : connections_) connection->thread.join();
    connections_.clear();
    listener_ = Socket();
}

void LoopbackServer::AcceptLoop() {
    while (!stopping_) {
        JoinFinishedConnections();
        if (!listener_.WaitReadable(kPollSlice)) continue;
        Socket client = listener_.Accept();
        if (!client.Valid()) continue;
        connections_.push_back(std::make_unique<Connection>());
        Connection& connection = *connections_.back();
        connection.socket = std::move(client);
        try {
            connection.thread = std::thread([this, &connection] { Serve(connection); });
        } catch (const std::system_error&) {
            connections_.pop_back();  // no thread left: the client sees the connection close
        }
    }
}

void LoopbackServer::JoinFinishedConnections() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void LoopbackServer::Serve(Connection& connection) {
    try {
        if (auto request = ReadRequest(connection.socket)) {
            Handler handler;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(*request);
                handler = handler_;
            }
            changed_.notify_all();
            Answer(connection.socket, handler(*request));
        }
    } catch (...) {
        // A throwing handler or exhausted memory ends this connection without an answer.
    }
    connection.socket = Socket();
    connection.finished = true;
}

std::optional<RecordedRequest> LoopbackServer::ReadRequest(const Socket& socket) {
    std::string data;
    std::size_t headEnd;
    while ((headEnd = data.find(kHeadEnd)) == std::string::npos) {
        if (data.size() > kMaxHeadBytes || !ReceiveMore(socket, data)) return std::nullopt;
    }
    auto request = ParseRequestHead(std::string_view(data).substr(0, headEnd));
    if (!request || request->Header("Transfer-Encoding")) return std::nullopt;  // Content-Length bodies only
    const auto length = BodyLength(*request);
    if (!length) return std::nullopt;
    const std::size_t bodyStart = headEnd + kHeadEnd.size();
    while (data.size() - bodyStart < *length) {
        if (!ReceiveMore(socket, data)) return std::nullopt;
    }
    request->body = data.substr(bodyStart, *length);
    request->parts = ParseMultipartForm(request->Header("Content-Type").value_or(""), request->body);
    return request;
}

bool LoopbackServer::ReceiveMore(const Socket& socket, std::string& data) {
    char buffer[64 * 1024];
    while (!stopping_) {
        if (!socket.WaitReadable(kPollSlice)) continue;
        std::size_t received = 0;
        switch (socket.Receive(buffer, sizeof buffer, received)) {
            case IoStatus::kOk: data.append(buffer, received); return true;
            case IoStatus::kWouldBlock: continue;
            case IoStatus::kClosed: return false;
        }
    }
    return false;
}

bool LoopbackServer::SendAll(const Socket& socket, std::string_view data) {
    while (!data.empty() && !stopping_) {
        if (!socket.WaitWritable(kPollSlice)) continue;
        std::size_t sent = 0;
        switch (socket.Send(data.data(), data.size(), sent)) {
            case IoStatus::kOk: data.remove_prefix(sent); break;
            case IoStatus::kWouldBlock: break;
            case IoStatus::kClosed: return false;
        }
    }
    return data.empty();
}

void LoopbackServer::Answer(const Socket& socket, const Reply& reply) {
    if (reply.delay.count() > 0 && !Pause(reply.delay)) return;
    std::string response = ResponseHead(reply);
    if (reply.endless) {
        const std::string piece = reply.body.empty() ? std::string(kEndlessPieceBytes, 'x') : reply.body;
        if (!SendAll(socket, response)) return;
        while (SendAll(socket, piece)) {
        }
        return;
    }
    response += reply.body;
    if (reply.cutAfter) response.resize(std::min(*reply.cutAfter, response.size()));
    SendAll(socket, response);
}

bool LoopbackServer::Pause(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, delay, [this] { return stopping_.load(); });
}
