#include "server/bench/proxied_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "server/tests/support/hostile_upload.h"

namespace speech_server::bench {
namespace {

// A loopback port free at the moment of asking.
int FreePort() {
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size);
    close(sock);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int sock = testing::ConnectTo(port);
    if (sock >= 0) close(sock);
    return sock >= 0;
}

std::string Loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

}  // namespace

ProxiedServers::ProxiedServers(const std::string& server_exe, const std::string& config)
    : first_(server_exe), second_(server_exe), port_(FreePort()) {
    setenv("VALDRIN_LISTEN", Loopback(port_).c_str(), 1);
    setenv("VALDRIN_SERVER_1", Loopback(first_.port()).c_str(), 1);
    setenv("VALDRIN_SERVER_2", Loopback(second_.port()).c_str(), 1);
    // haproxy's place is /usr/sbin, outside an ordinary user's PATH.
    proxy_ = SpawnWithPipedStderr({"/usr/sbin/haproxy", "-db", "-f", config}, proxy_err_);
    fcntl(proxy_err_, F_SETFL, fcntl(proxy_err_, F_GETFL) | O_NONBLOCK);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!Accepts(port_)) {
        ReadProxyLog();
        if (Clock::now() > deadline) {
            StopChild(proxy_, [] {});
            close(proxy_err_);
            throw std::runtime_error("HAProxy did not start listening within 10 s: " + proxy_partial_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

ProxiedServers::~ProxiedServers() {
    StopChild(proxy_, [this] { ReadProxyLog(); });
    close(proxy_err_);
}

std::vector<int> ProxiedServers::log_fds() const { return {first_.log_fds()[0], second_.log_fds()[0], proxy_err_}; }

bool ProxiedServers::ReadLog(int timeout_ms) {
    std::vector<pollfd> ready;
    for (int fd : log_fds()) ready.push_back({fd, POLLIN, 0});
    poll(ready.data(), ready.size(), timeout_ms);
    ReadProxyLog();
    return first_.ReadLog(0) && second_.ReadLog(0);
}

// Both servers' lines in the order they arrived, as one server's would be.
std::vector<LogLine> ProxiedServers::TakeLines() {
    std::vector<LogLine> lines = first_.TakeLines();
    for (LogLine& line : second_.TakeLines()) lines.push_back(std::move(line));
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LogLine& a, const LogLine& b) { return a.arrived < b.arrived; });
    return lines;
}

void ProxiedServers::ReadProxyLog() {
    char buffer[4096];
    for (ssize_t count; (count = read(proxy_err_, buffer, sizeof buffer)) > 0;)
        proxy_partial_.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = proxy_partial_.find('\n')) != std::string::npos;) {
        if (proxy_partial_.substr(0, end).find(" is DOWN") != std::string::npos) ++marked_down_;
        proxy_partial_.erase(0, end + 1);
    }
}

}  // namespace speech_server::bench
