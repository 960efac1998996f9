// Two valdrin-server children behind HAProxy on a free loopback port, with a given
// configuration (server/haproxy/valdrin.cfg). HAProxy runs in the foreground, so that
// its warnings, a server marked down among them, are read with the servers' logs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "server/bench/server_child.h"

namespace speech_server::bench {

class ProxiedServers : public LoadTarget {
public:
    // Throws when a server or HAProxy does not start listening.
    ProxiedServers(const std::string& server_exe, const std::string& config);
    ~ProxiedServers() override;
    ProxiedServers(const ProxiedServers&) = delete;
    ProxiedServers& operator=(const ProxiedServers&) = delete;

    int port() const override { return port_; }
    std::vector<int> log_fds() const override;
    bool ReadLog(int timeout_ms) override;
    std::vector<LogLine> TakeLines() override;
    // HAProxy's warnings that a server is down.
    int servers_marked_down() const override { return marked_down_; }

private:
    void ReadProxyLog();

    ServerChild first_;
    ServerChild second_;
    pid_t proxy_ = -1;
    int proxy_err_ = -1;
    int port_ = 0;
    int marked_down_ = 0;
    std::string proxy_partial_;
};

}  // namespace speech_server::bench
