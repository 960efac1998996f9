// One client connection as the HTTP layer reads and writes it, with the limits that
// keep a client from costing more than one bounded request: a cap on the bytes read
// whatever the framing (Content-Length, chunked, none), a deadline for the whole
// request, a longest pause, and a cap on bytes that no parser has taken as content
// (a multipart parser keeps what it cannot match).
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace speech_server {

class ConnectionStream : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;

    // Why reading stopped before the peer ended.
    enum class Cut { kNone, kTooLarge, kTooSlow, kUnparsed };

    struct Limits {
        std::size_t max_bytes = 0;             // the request line, headers and body together
        Clock::time_point deadline;            // when the whole request must have arrived
        std::chrono::milliseconds max_pause{};  // the longest silence between two reads
        std::chrono::milliseconds write_timeout{};
    };

    ConnectionStream(socket_t sock, const Limits& limits);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return sock_; }

    // Raises the cap on the bytes read, e.g. once the headers have announced a body.
    void AllowBytes(std::size_t max_bytes) { limits_.max_bytes = max_bytes; }

    // From now on at most `slack` more bytes may be read than are reported as
    // Consumed; past that reading stops with kUnparsed.
    void LimitUnconsumed(std::size_t slack);
    void Consumed(std::size_t bytes) { consumed_ += bytes; }

    Cut cut() const { return cut_; }

    // Whether the peer has closed the connection or it has failed. Data waiting to be
    // read is no sign of leaving.
    bool PeerHasLeft() const;

    // After the answer: tells the peer that nothing more comes, then reads and drops
    // what it still sends, up to `max_bytes` or `until`, so that closing does not
    // reset the connection under an answer the peer has not read yet.
    void Drain(std::size_t max_bytes, Clock::time_point until);

private:
    ssize_t Fill();
    ssize_t Stop(Cut cut);

    socket_t sock_;
    Limits limits_;
    Cut cut_ = Cut::kNone;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t total_ = 0;
    std::size_t consumed_ = 0;
    std::size_t unconsumed_allowance_ = static_cast<std::size_t>(-1);
};

}  // namespace speech_server
