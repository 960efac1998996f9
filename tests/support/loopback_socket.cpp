#include "tests/support/loopback_socket.h"

#include <climits>
#include <stdexcept>
#include <string>
#include <utility>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
using IoLength = int;
constexpr int kSendFlags = 0;
int LastError() { return WSAGetLastError(); }
bool WouldBlock(int code) { return code == WSAEWOULDBLOCK || code == WSAEINTR; }
int PollNative(WSAPOLLFD* entry, int timeoutMs) { return WSAPoll(entry, 1, timeoutMs); }
using PollEntry = WSAPOLLFD;
void CloseNative(NativeSocket s) { closesocket(s); }
bool MakeNonBlocking(NativeSocket s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
#else
using NativeSocket = int;
using IoLength = std::size_t;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a vanished peer is an error, not SIGPIPE
int LastError() { return errno; }
bool WouldBlock(int code) { return code == EAGAIN || code == EWOULDBLOCK || code == EINTR; }
int PollNative(pollfd* entry, int timeoutMs) { return ::poll(entry, 1, timeoutMs); }
using PollEntry = pollfd;
void CloseNative(NativeSocket s) { ::close(s); }
bool MakeNonBlocking(NativeSocket s) {
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
#endif

NativeSocket Native(std::intptr_t handle) { return static_cast<NativeSocket>(handle); }

bool WaitFor(std::intptr_t handle, short events, std::chrono::milliseconds timeout) {
    PollEntry entry{};
    entry.fd = Native(handle);
    entry.events = events;
    return PollNative(&entry, static_cast<int>(timeout.count())) != 0;
}

IoLength ClampLength(std::size_t length) {
    return static_cast<IoLength>(length > INT_MAX ? INT_MAX : length);
}

IoStatus Outcome(long result, std::size_t& count) {
    count = result > 0 ? static_cast<std::size_t>(result) : 0;
    if (result > 0) return IoStatus::kOk;
    if (result < 0 && WouldBlock(LastError())) return IoStatus::kWouldBlock;
    return IoStatus::kClosed;
}

}  // namespace

SocketLibrary::SocketLibrary() {
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
#endif
}

SocketLibrary::~SocketLibrary() {
#ifdef _WIN32
    WSACleanup();
#endif
}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

void Socket::Close() {
    if (Valid()) CloseNative(Native(handle_));
    handle_ = -1;
}

Socket Socket::ListenOnLoopback() {
    Socket listener(static_cast<std::intptr_t>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (!listener.Valid()) throw std::runtime_error("socket failed: " + std::to_string(LastError()));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(Native(listener.handle_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(Native(listener.handle_), SOMAXCONN) != 0 || !MakeNonBlocking(Native(listener.handle_))) {
        throw std::runtime_error("listening on 127.0.0.1 failed: " + std::to_string(LastError()));
    }
    return listener;
}

bool Socket::Valid() const { return handle_ != -1; }

std::uint16_t Socket::LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(Native(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

bool Socket::WaitReadable(std::chrono::milliseconds timeout) const { return WaitFor(handle_, POLLIN, timeout); }

bool Socket::WaitWritable(std::chrono::milliseconds timeout) const { return WaitFor(handle_, POLLOUT, timeout); }

Socket Socket::Accept() const {
    Socket client(static_cast<std::intptr_t>(accept(Native(handle_), nullptr, nullptr)));
    if (client.Valid() && !MakeNonBlocking(Native(client.handle_))) return Socket();
    return client;
}

IoStatus Socket::Receive(char* buffer, std::size_t capacity, std::size_t& received) const {
    return Outcome(static_cast<long>(recv(Native(handle_), buffer, ClampLength(capacity), 0)), received);
}

IoStatus Socket::Send(const char* data, std::size_t length, std::size_t& sent) const {
    return Outcome(static_cast<long>(send(Native(handle_), data, ClampLength(length), kSendFlags)), sent);
}
