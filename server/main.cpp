// valdrin-server: English speech recognition over HTTP for Valdrin Live.
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/inference_server.h"
#include "server/process_memory.h"
#include "server/recognizer_pool.h"
#include "server/server_options.h"
#include "server/termination_signals.h"

namespace {

using namespace speech_server;

constexpr const char* kProgram = "valdrin-server";

std::mutex g_stderrMutex;

void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_stderrMutex);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void Note(const std::string& message) { Say(std::string(kProgram) + ": " + message); }

// Hands a stop request to the server that is running, or to the next one that
// starts; a signal can arrive at any point, the loading of the models included.
class StopRelay {
public:
    void RequestStop() {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
        if (server_) server_->Stop();
    }
    void Attach(InferenceServer* server) {
        std::lock_guard<std::mutex> lock(mutex_);
        server_ = server;
        if (server_ && requested_) server_->Stop();
    }

private:
    std::mutex mutex_;
    bool requested_ = false;
    InferenceServer* server_ = nullptr;
};

std::unique_ptr<RecognizerPool> LoadRecognizers(int count, const ModelPaths& model) {
    Note("loading " + std::to_string(count) + " recognisers");
    const auto start = std::chrono::steady_clock::now();
    auto pool = std::make_unique<RecognizerPool>(static_cast<std::size_t>(count), model);
    char text[120];
    std::snprintf(text, sizeof text, "recognisers loaded in %.2f s, resident memory %zu MiB",
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
    StopRelay relay;
    // First, so that the signals are blocked in every thread started afterwards.
    TerminationSignals signals([&relay] {
        Note("stopping: finishing the requests in progress");
        relay.RequestStop();
    });

    std::unique_ptr<RecognizerPool> pool;
    try {
        pool = LoadRecognizers(options.workers, model);
    } catch (const std::exception& e) {
        Note(e.what());
        return 1;
    }
    InferenceServer server(*pool, ServerSettings{}, Say);
    std::string error;
    if (!server.Bind(options.host, options.port, error)) {
        Note(error);
        return 1;
    }
    Note("listening on http://" + options.host + ":" + std::to_string(server.port()) + " with " +
         std::to_string(pool->size()) + " workers");
    relay.Attach(&server);
    server.Run();
    relay.Attach(nullptr);
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
