// A valdrin-server binary run as a child process on a free loopback port, its standard
// error read line by line with the time each line arrived.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace speech_server::bench {

using Clock = std::chrono::steady_clock;

struct LogLine {
    Clock::time_point arrived;
    std::string text;
};

class ServerChild {
public:
    // Starts `exe --host 127.0.0.1 --port 0` and waits until it listens. Throws when it
    // does not start within a minute.
    explicit ServerChild(const std::string& exe);
    // Stops it by its PID: SIGTERM, then SIGKILL if it is still busy after 3 s.
    ~ServerChild();
    ServerChild(const ServerChild&) = delete;
    ServerChild& operator=(const ServerChild&) = delete;

    int port() const { return port_; }
    // The read end of its standard error, for poll.
    int log_fd() const { return err_; }
    // Reads what is waiting on standard error, waiting at most `timeout_ms`; false once it
    // has ended.
    bool ReadLog(int timeout_ms);
    // Complete lines read so far; TakeLines empties the list.
    std::vector<LogLine> TakeLines();

private:
    void Stop();

    pid_t pid_ = -1;
    int err_ = -1;
    int port_ = 0;
    std::string partial_;
    std::vector<LogLine> lines_;
};

}  // namespace speech_server::bench
