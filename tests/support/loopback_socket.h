// A non-blocking TCP socket on 127.0.0.1, the same on POSIX and Winsock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// Keeps the socket library initialised while it lives (Winsock needs it; POSIX not).
class SocketLibrary {
public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
};

enum class IoStatus { kOk, kWouldBlock, kClosed };  // kClosed: the peer left or the socket failed

class Socket {
public:
    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A socket listening on 127.0.0.1 at a port the system picks; throws std::runtime_error.
    static Socket ListenOnLoopback();

    bool Valid() const;
    std::uint16_t LocalPort() const;
    // True when the socket is readable (or writable) or in error; false after `timeout`.
    bool WaitReadable(std::chrono::milliseconds timeout) const;
    bool WaitWritable(std::chrono::milliseconds timeout) const;
    // The next waiting connection, or an invalid socket when there is none.
    Socket Accept() const;
    IoStatus Receive(char* buffer, std::size_t capacity, std::size_t& received) const;
    IoStatus Send(const char* data, std::size_t length, std::size_t& sent) const;

private:
    explicit Socket(std::intptr_t handle) : handle_(handle) {}
    void Close();

    std::intptr_t handle_ = -1;
};
