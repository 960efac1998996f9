// A valdrin-server binary run as a child process on a free loopback port, its standard
// error read line by line with the time each line arrived.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace speech_server::bench {

using Clock = std::chrono::steady_clock;

struct LogLine {
    Clock::time_point arrived;
    std::string text;
};

// Where a load goes, and whose log tells what became of it.
class LoadTarget {
public:
    virtual ~LoadTarget() = default;
    virtual int port() const = 0;
    // The read ends of the logs, for poll.
    virtual std::vector<int> log_fds() const = 0;
    // Reads what is waiting on the servers' standard error, waiting at most
    // `timeout_ms`; false once a server has ended.
    virtual bool ReadLog(int timeout_ms) = 0;
    // Complete lines read so far; TakeLines empties the list.
    virtual std::vector<LogLine> TakeLines() = 0;
    // Servers a balancer in front has marked down so far.
    virtual int servers_marked_down() const { return 0; }
};

// Starts `args` with standard output to /dev/null and standard error to a pipe, whose
// read end it returns in `err`. Throws when it cannot.
pid_t SpawnWithPipedStderr(const std::vector<std::string>& args, int& err);
// Ends `pid`: SIGTERM, then SIGKILL if it has not ended within 3 s; `while_waiting`
// runs meanwhile, e.g. to keep a pipe from filling.
void StopChild(pid_t pid, const std::function<void()>& while_waiting);

class ServerChild : public LoadTarget {
public:
    // Starts `exe --host 127.0.0.1 --port 0` and waits until it listens. Throws when it
    // does not start within a minute.
    explicit ServerChild(const std::string& exe);
    // Stops it by its PID: SIGTERM, then SIGKILL if it is still busy after 3 s.
    ~ServerChild();
    ServerChild(const ServerChild&) = delete;
    ServerChild& operator=(const ServerChild&) = delete;

    int port() const override { return port_; }
    std::vector<int> log_fds() const override { return {err_}; }
    bool ReadLog(int timeout_ms) override;
    std::vector<LogLine> TakeLines() override;

private:
    void Stop();

    pid_t pid_ = -1;
    int err_ = -1;
    int port_ = 0;
    std::string partial_;
    std::vector<LogLine> lines_;
};

}  // namespace speech_server::bench
