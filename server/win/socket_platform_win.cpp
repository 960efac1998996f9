#include "server/socket_platform.h"

namespace speech_server {

// SO_REUSEADDR would let another socket take the port over on Windows; exclusive use
// is the rule that a second server must fail.
void MakePortExclusive(socket_t sock) {
    BOOL yes = TRUE;
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
}

void CloseSocket(socket_t sock) {
    ::shutdown(sock, SD_BOTH);
    ::closesocket(sock);
}

void ShutdownSending(socket_t sock) { ::shutdown(sock, SD_SEND); }

// select, unlike WSAPoll, works on every Windows version the exe supports.
int WaitForSocket(socket_t sock, bool for_writing, int timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock, &set);
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return ::select(0, for_writing ? nullptr : &set, for_writing ? &set : nullptr, nullptr, &timeout);
}

// Windows sockets report a closed peer as an error; there is no signal.
void IgnoreBrokenPipes() {}

void ClearSocketError() { WSASetLastError(0); }

std::string SocketErrorText() {
    const int code = WSAGetLastError();
    if (code == 0) return {};
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text,
                                        sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "socket error " + std::to_string(code) : message;
}

}  // namespace speech_server
