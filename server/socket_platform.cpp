#include "server/socket_platform.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace speech_server {

// Without SO_REUSEPORT (the library's default) a second bind fails; SO_REUSEADDR only
// lets a restarted server take the port back from its own closing connections.
void MakePortExclusive(socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void CloseSocket(socket_t sock) {
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

void ShutdownSending(socket_t sock) { ::shutdown(sock, SHUT_WR); }

int WaitForSocket(socket_t sock, bool for_writing, int timeout_ms) {
    pollfd ready{sock, static_cast<short>(for_writing ? POLLOUT : POLLIN), 0};
    int result;
    while ((result = ::poll(&ready, 1, timeout_ms)) < 0 && errno == EINTR) {
    }
    return result;
}

// The library writes to sockets without MSG_NOSIGNAL.
void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void ClearSocketError() { errno = 0; }

std::string SocketErrorText() { return errno == 0 ? std::string() : std::strerror(errno); }

}  // namespace speech_server
