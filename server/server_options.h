// The server's command line.
#pragma once

#include <string>
#include <vector>

namespace speech_server {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0 takes any free port
    int workers = 2;  // recognisers, hence requests decoded at once
};

constexpr int kMaxWorkers = 16;  // each recogniser holds about 100 MiB

struct ParsedCommandLine {
    enum class Action { kRun, kHelp, kError };
    Action action = Action::kRun;
    ServerOptions options;
    std::string error;  // for kError
};

// Accepts "--name value" and "--name=value"; the arguments exclude the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& program);

}  // namespace speech_server
