#include "server/connection_stream.h"

#include <algorithm>
#include <cstring>

#include "server/socket_platform.h"

namespace speech_server {
namespace {

constexpr std::size_t kBufferBytes = 16 * 1024;

int MillisecondsUntil(ConnectionStream::Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - ConnectionStream::Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

void DescribeAddress(socket_t sock, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    if ((peer ? getpeername(sock, generic, &length) : getsockname(sock, generic, &length)) != 0 ||
        getnameinfo(generic, length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return;
    }
    ip = host;
    port = std::atoi(service);
}

}  // namespace

ConnectionStream::ConnectionStream(socket_t sock, const Limits& limits)
    : sock_(sock), limits_(limits), buffer_(kBufferBytes) {}

bool ConnectionStream::is_readable() const {
    return begin_ < end_ ||
           WaitForSocket(sock_, false, static_cast<int>(limits_.max_pause.count())) > 0;
}

bool ConnectionStream::is_writable() const { return WaitForSocket(sock_, true, 0) > 0; }

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (begin_ == end_) {
        const ssize_t filled = Fill();
        if (filled <= 0) return filled;
    }
    const std::size_t count = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_.data() + begin_, count);
    begin_ += count;
    return static_cast<ssize_t>(count);
}

ssize_t ConnectionStream::Fill() {
    if (total_ >= limits_.max_bytes) return Stop(Cut::kTooLarge);
    if (total_ - consumed_ > unconsumed_allowance_) return Stop(Cut::kUnparsed);
    const int wait = std::min(MillisecondsUntil(limits_.deadline), static_cast<int>(limits_.max_pause.count()));
    if (wait <= 0 || WaitForSocket(sock_, false, wait) == 0) return Stop(Cut::kTooSlow);
    const std::size_t room = std::min(buffer_.size(), limits_.max_bytes - total_);
    const ssize_t got = httplib::detail::read_socket(sock_, buffer_.data(), room, 0);
    if (got <= 0) return got;
    begin_ = 0;
    end_ = static_cast<std::size_t>(got);
    total_ += end_;
    return got;
}

ssize_t ConnectionStream::Stop(Cut cut) {
    cut_ = cut;
    return -1;
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    if (WaitForSocket(sock_, true, static_cast<int>(limits_.write_timeout.count())) <= 0) return -1;
    return httplib::detail::send_socket(sock_, ptr, size, 0);
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    DescribeAddress(sock_, true, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    DescribeAddress(sock_, false, ip, port);
}

void ConnectionStream::LimitUnconsumed(std::size_t slack) {
    unconsumed_allowance_ = total_ - consumed_ + slack;
}

bool ConnectionStream::PeerHasLeft() const {
    const int ready = WaitForSocket(sock_, false, 0);
    if (ready == 0) return false;
    char next;
    return ready < 0 || httplib::detail::read_socket(sock_, &next, 1, MSG_PEEK) <= 0;
}

void ConnectionStream::Drain(std::size_t max_bytes, Clock::time_point until) {
    ShutdownSending(sock_);
    std::size_t drained = 0;
    while (drained < max_bytes && WaitForSocket(sock_, false, MillisecondsUntil(until)) > 0) {
        const ssize_t got = httplib::detail::read_socket(sock_, buffer_.data(), buffer_.size(), 0);
        if (got <= 0) break;
        drained += static_cast<std::size_t>(got);
    }
}

}  // namespace speech_server
