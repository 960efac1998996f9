#include "server/bench/server_child.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace speech_server::bench {
namespace {

constexpr const char* kListening = "listening on http://127.0.0.1:";

}  // namespace

pid_t SpawnWithPipedStderr(const std::vector<std::string>& args, int& err) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    if (spawned != 0) {
        close(pipe_ends[0]);
        throw std::runtime_error("cannot start " + args[0]);
    }
    err = pipe_ends[0];
    return pid;
}

void StopChild(pid_t pid, const std::function<void()>& while_waiting) {
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return;
        }
        while_waiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

ServerChild::ServerChild(const std::string& exe) {
    pid_ = SpawnWithPipedStderr({exe, "--host", "127.0.0.1", "--port", "0"}, err_);
    const auto deadline = Clock::now() + std::chrono::minutes(1);
    std::string said;
    while (port_ == 0 && Clock::now() < deadline && ReadLog(1000)) {
        for (const LogLine& line : TakeLines()) {
            said += line.text + "\n";
            const auto at = line.text.find(kListening);
            if (at != std::string::npos) port_ = std::atoi(line.text.c_str() + at + std::strlen(kListening));
        }
    }
    if (port_ <= 0) {
        Stop();
        throw std::runtime_error(exe + " did not start listening within a minute:\n" + said + partial_);
    }
}

ServerChild::~ServerChild() { Stop(); }

void ServerChild::Stop() {
    if (pid_ > 0) StopChild(pid_, [this] { ReadLog(0); });
    pid_ = -1;
    if (err_ >= 0) close(err_);
    err_ = -1;
}

bool ServerChild::ReadLog(int timeout_ms) {
    pollfd ready{err_, POLLIN, 0};
    const int ready_count = poll(&ready, 1, timeout_ms);
    if (ready_count == 0) return true;
    if (ready_count < 0) return errno == EINTR;
    char buffer[8192];
    const ssize_t count = read(err_, buffer, sizeof buffer);
    if (count <= 0) return false;
    const auto now = Clock::now();
    partial_.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
        lines_.push_back({now, partial_.substr(0, end)});
        partial_.erase(0, end + 1);
    }
    return true;
}

std::vector<LogLine> ServerChild::TakeLines() {
    std::vector<LogLine> taken;
    taken.swap(lines_);
    return taken;
}

}  // namespace speech_server::bench
