#include "server/tests/support/hostile_upload.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

namespace speech_server::testing {

int ConnectTo(int port) {
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(sock);
        return -1;
    }
    return sock;
}

std::string Exchange(int port, const std::vector<Piece>& pieces, bool half_close) {
    const int sock = ConnectTo(port);
    std::string answer;
    if (sock < 0) return answer;
    for (const Piece& piece : pieces) {
        std::this_thread::sleep_for(piece.pause);
        if (send(sock, piece.data.data(), piece.data.size(), MSG_NOSIGNAL) < 0) break;
    }
    if (half_close) shutdown(sock, SHUT_WR);
    char buffer[4096];
    for (ssize_t got; (got = recv(sock, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, got);
    close(sock);
    return answer;
}

std::string Chunk(const std::string& data) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

std::vector<HostileUpload> EndlessUploads() {
    using std::chrono::milliseconds;
    const std::string post = "POST /inference HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string multipart = "Content-Type: multipart/form-data; boundary=XyZ\r\n";
    const std::string chunked = "Transfer-Encoding: chunked\r\n";
    const std::string file_part = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n";
    const std::string junk = Chunk(std::string(64 * 1024, 'j'));
    return {
        {"junk after a delimiter", post + multipart + chunked + "\r\n" + Chunk(file_part + "abc\r\n--XyZ"), junk,
         milliseconds(0), 400},
        {"a part that never ends", post + multipart + chunked + "\r\n" + Chunk(file_part), junk, milliseconds(0), 413},
        {"a body that never ends", post + multipart + chunked + "\r\n", junk, milliseconds(0), 413},
        {"a length too large to send", post + multipart + "Content-Length: 1099511627776\r\n\r\n", "",
         milliseconds(0), 413},
        {"a length that lies", post + multipart + "Content-Length: 100000\r\n\r\n" + file_part, "", milliseconds(0),
         408},
        {"headers that never end", post, "X-Filler: " + std::string(1000, 'h') + "\r\n", milliseconds(0), 431},
        {"a body sent slowly", post + multipart + "Content-Length: 100000\r\n\r\n", "x", milliseconds(100), 408},
        {"a compressed body", post + multipart + "Content-Encoding: gzip\r\n" + chunked + "\r\n", junk,
         milliseconds(0), 415},
        {"a body without framing", post + multipart + "\r\n", junk, milliseconds(0), 411},
    };
}

HostileOutcome SendUntilAnswered(int port, const HostileUpload& upload, std::size_t max_bytes) {
    HostileOutcome outcome;
    const int sock = ConnectTo(port);
    if (sock < 0) return outcome;
    if (send(sock, upload.head.data(), upload.head.size(), MSG_NOSIGNAL) < 0) {
        close(sock);
        return outcome;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (outcome.answer.empty() && outcome.sent < max_bytes && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{sock, static_cast<short>(POLLIN | (upload.filler.empty() ? 0 : POLLOUT)), 0};
        if (poll(&ready, 1, 100) < 0) break;
        if (ready.revents & POLLIN) {
            char buffer[4096];
            for (ssize_t got; (got = recv(sock, buffer, sizeof buffer, 0)) > 0;) outcome.answer.append(buffer, got);
            if (outcome.answer.empty()) break;  // closed or reset without an answer
        } else if (ready.revents & POLLOUT) {
            const ssize_t put = send(sock, upload.filler.data(), upload.filler.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (put < 0 && errno != EAGAIN) break;
            if (put > 0) outcome.sent += static_cast<std::size_t>(put);
            std::this_thread::sleep_for(upload.pause);
        }
    }
    close(sock);
    return outcome;
}

}  // namespace speech_server::testing
