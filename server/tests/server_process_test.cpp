// Runs the valdrin-server binary itself.
#include <gtest/gtest.h>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The server as a child process with its standard output and error captured.
class ServerProcess {
public:
    explicit ServerProcess(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> command = {VALDRIN_SERVER_EXE};
        command.insert(command.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, VALDRIN_SERVER_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (spawned != 0) throw std::runtime_error("cannot start " VALDRIN_SERVER_EXE);
    }
    ~ServerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // Reads standard error until it holds `text` or the time is up; true when found.
    bool WaitForError(const std::string& text, std::chrono::seconds limit = 60s) {
        const auto deadline = Clock::now() + limit;
        while (stderr_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !ReadSome(err_, stderr_, static_cast<int>(left.count()))) return false;
        }
        return true;
    }
    // Waits for the exit, collecting all output; the exit status, or -1 after a signal.
    int Wait() {
        while (ReadSome(err_, stderr_, 60000)) {
        }
        while (ReadSome(out_, stdout_, 60000)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int number) { kill(pid_, number); }
    const std::string& Stdout() const { return stdout_; }
    const std::string& Stderr() const { return stderr_; }

private:
    static bool ReadSome(int fd, std::string& into, int timeout_ms) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, timeout_ms) <= 0) return false;
        char buffer[4096];
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) return false;
        into.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stdout_;
    std::string stderr_;
};

int PortFromListeningLine(const std::string& log) {
    const std::string marker = "listening on http://127.0.0.1:";
    const auto at = log.find(marker);
    return at == std::string::npos ? -1 : std::stoi(log.substr(at + marker.size()));
}

TEST(ServerProcess, PrintsHelpAndExitsZero) {
    ServerProcess server({"--help"});
    EXPECT_EQ(server.Wait(), 0);
    EXPECT_EQ(server.Stdout().rfind("Usage: valdrin-server [--host ADDRESS] [--port N] [--workers N]\n", 0), 0u)
        << server.Stdout();
}

TEST(ServerProcess, RefusesBadOptionsWithExitCode2) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--port", "http"}, {"--workers", "0"}, {"--port"}}) {
        ServerProcess server(args);
        EXPECT_EQ(server.Wait(), 2) << args[0];
        EXPECT_NE(server.Stderr().find("(see valdrin-server --help)"), std::string::npos) << server.Stderr();
    }
}

TEST(ServerProcess, ServesUntilSigtermThenExitsCleanly) {
    ServerProcess server({"--port", "0", "--workers", "1"});
    ASSERT_TRUE(server.WaitForError("listening on")) << server.Stderr();
    const int port = PortFromListeningLine(server.Stderr());
    ASSERT_GT(port, 0) << server.Stderr();
    httplib::Client client("127.0.0.1", port);
    auto result = client.Get("/health");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    ASSERT_TRUE(server.WaitForError("GET /health 200 "));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0) << server.Stderr();
    EXPECT_NE(server.Stderr().find("valdrin-server: stopping"), std::string::npos) << server.Stderr();
    EXPECT_NE(server.Stderr().find("valdrin-server: stopped"), std::string::npos) << server.Stderr();
}

TEST(ServerProcess, EndsAtOnceOnASecondSigint) {
    ServerProcess server({"--port", "0", "--workers", "1"});
    ASSERT_TRUE(server.WaitForError("listening on")) << server.Stderr();
    // A request that never ends keeps the first stop waiting.
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(PortFromListeningLine(server.Stderr())));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_GT(send(client, "POST /inference HTTP/1.1\r\n", 26, MSG_NOSIGNAL), 0);
    server.Signal(SIGINT);
    ASSERT_TRUE(server.WaitForError("stopping")) << server.Stderr();
    server.Signal(SIGINT);
    const auto start = Clock::now();
    EXPECT_EQ(server.Wait(), 3) << server.Stderr();
    EXPECT_LT(Clock::now() - start, 4s) << "the open request would have held it for 5 s";
    EXPECT_NE(server.Stderr().find("valdrin-server: stopped at once"), std::string::npos) << server.Stderr();
    close(client);
}

TEST(ServerProcess, StopsCleanlyOnSigintDuringStartUp) {
    ServerProcess server({"--port", "0", "--workers", "2"});
    ASSERT_TRUE(server.WaitForError("loading 2 recognisers")) << server.Stderr();
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(), 0) << server.Stderr();
    EXPECT_NE(server.Stderr().find("valdrin-server: stopped"), std::string::npos) << server.Stderr();
}

TEST(ServerProcess, ExitsWithAMessageWhenThePortIsTaken) {
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));

    ServerProcess server({"--port", port, "--workers", "1"});
    EXPECT_EQ(server.Wait(), 1);
    EXPECT_NE(server.Stderr().find("cannot listen on 127.0.0.1:" + port + ": Address already in use"),
              std::string::npos)
        << server.Stderr();
    close(holder);
}

}  // namespace
