// valdrin-server: English speech recognition over HTTP for Valdrin Live.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/http/inference_server.h"
#include "server/process_memory.h"
#include "server/recognition/recognizer_pool.h"
#include "server/server_options.h"
#include "server/termination_signals.h"

namespace {

using namespace speech_server;

constexpr const char* kProgram = "valdrin-server";
constexpr int kExitStoppedAtOnce = 3;

std::mutex g_stderrMutex;

void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_stderrMutex);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void Note(const std::string& message) { Say(std::string(kProgram) + ": " + message); }

// The second stop ends the process without taking any lock: a thread blocked writing
// to a full pipe or a paused console may hold the log's, or stderr's own. Its note is
// written by a thread of its own, which gets a moment and no more.
[[noreturn]] void EndAtOnce() {
    static std::atomic<bool> written{false};
    std::thread([] {
        std::fprintf(stderr, "%s: stopped at once: the requests in progress were dropped\n", kProgram);
        std::fflush(stderr);
        written = true;
    }).detach();
    for (int wait = 0; wait < 20 && !written; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::_Exit(kExitStoppedAtOnce);
}

std::string Count(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Url(const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::unique_ptr<RecognizerPool> LoadRecognizers(int count, const ModelPaths& model) {
    Note("loading " + Count(static_cast<std::size_t>(count), "recogniser"));
    const auto start = std::chrono::steady_clock::now();
    auto pool = std::make_unique<RecognizerPool>(static_cast<std::size_t>(count), model);
    char text[120];
    std::snprintf(text, sizeof text, "loaded in %.2f s, resident memory %zu MiB",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  ResidentBytes() / (1024 * 1024));
    Note(text);
    return pool;
}

int Serve(const ServerOptions& options) {
    const ModelPaths model;
    if (const std::string missing = model.MissingFileMessage(); !missing.empty()) {
        Note(missing);
        return 1;
    }
    // The port first: a taken port is reported before the models take their time.
    InferenceServer server(ServerSettings{}, Say);
    std::string error;
    if (!server.Bind(options.host, options.port, error)) {
        Note(error);
        return 1;
    }
    // Before any other thread exists, so that the signals reach only the watcher.
    // A stop during loading closes the listening socket and Run returns at once.
    TerminationSignals signals(
        [&server] {
            server.Stop();
            Note("stopping: finishing the recognitions in progress (stop again to end at once)");
        },
        EndAtOnce);
    std::unique_ptr<RecognizerPool> pool;
    try {
        pool = LoadRecognizers(options.workers, model);
    } catch (const std::exception& e) {
        Note(e.what());
        return 1;
    }
    Note("listening on " + Url(options.host, server.port()) + " with " + Count(pool->size(), "worker"));
    if (!server.Run(*pool)) {
        Note("stopped: the listening socket failed");
        return 1;
    }
    Note("stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedCommandLine parsed = ParseCommandLine(args);
    switch (parsed.action) {
    case ParsedCommandLine::Action::kHelp:
        std::fputs(UsageText(kProgram).c_str(), stdout);
        return 0;
    case ParsedCommandLine::Action::kError:
        Note(parsed.error + " (see " + kProgram + " --help)");
        return 2;
    case ParsedCommandLine::Action::kRun:
        break;
    }
    return Serve(parsed.options);
}
