// How the server keeps its goodput under overload. Measures its capacity (uploads per
// second answered, four clients per server posting back to back), then offers 0.5, 1,
// 1.5, 2 and 4 times that: clients each posting a 7 s LibriVox chunk (MP3 as the tool
// makes it) every 7 s from staggered starts, each giving up after 15 s as the tool does.
// Every load runs on freshly started servers with their default 2 workers, so that one
// load's backlog cannot spill into the next. With --haproxy, two servers behind HAProxy
// with that configuration take the load, and no server may be marked down.
//
//   load_bench PATH/TO/valdrin-server [SECONDS PER LOAD, default 60]
//              [--haproxy CONFIG] [--loads 0.5,1,1.5,2,4]
//
// Exits with 1 when goodput, the refusals' time or a server marked down misses its goal;
// the other goals are reported.
// Recognitions for clients that had gone are found in the server's log: each line with
// "recognition=" is matched to an answer the clients received within 0.5 s of it; the
// lines left over (logged during the load or within 2 s after it) were for nobody.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "server/bench/proxied_servers.h"
#include "server/bench/server_child.h"
#include "server/bench/upload_clients.h"
#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"

namespace {

using namespace speech_server;
using namespace speech_server::bench;

constexpr double kChunkSeconds = 7;
constexpr int kSampleRate = 16000;
constexpr double kCapacitySeconds = 20;
constexpr int kCapacityClients = 4;
constexpr double kLogGraceSeconds = 2;
constexpr double kMatchSeconds = 0.5;

// What the load goes to: one server, or two behind HAProxy.
struct Setup {
    std::string server_exe;
    std::string haproxy_config;  // empty: the server alone
    int servers() const { return haproxy_config.empty() ? 1 : 2; }
    std::unique_ptr<LoadTarget> Start() const {
        if (haproxy_config.empty()) return std::make_unique<ServerChild>(server_exe);
        return std::make_unique<ProxiedServers>(server_exe, haproxy_config);
    }
};

// The first 7 s of the LibriVox clips one after the other.
std::string SpeechChunk() {
    std::vector<std::int16_t> samples;
    for (const auto& clip : testing::LibrivoxClips()) samples.insert(samples.end(), clip.samples.begin(), clip.samples.end());
    samples.resize(static_cast<std::size_t>(kChunkSeconds * kSampleRate));
    const auto mp3 = testing::EncodeMp3(samples, kSampleRate, 1);
    return {mp3.begin(), mp3.end()};
}

double Percentile95(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(values.size()))) - 1];
}

std::string SecondsText(double seconds) {
    if (std::isnan(seconds)) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

struct Recognition {
    double logged;   // seconds since the run began
    double seconds;  // its recognition time
};

// The server's log of the run so far plus a grace period, its recognitions only.
std::vector<Recognition> CollectRecognitions(LoadTarget& server, const UploadClients& clients) {
    const auto grace_end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(kLogGraceSeconds));
    while (Clock::now() < grace_end && server.ReadLog(100)) {
    }
    std::vector<Recognition> recognitions;
    for (const LogLine& line : server.TakeLines()) {
        const auto at = line.text.find(" recognition=");
        if (at != std::string::npos)
            recognitions.push_back({clients.SinceStart(line.arrived), std::atof(line.text.c_str() + at + 13)});
    }
    return recognitions;
}

struct LoadFigures {
    int answered = 0, gave_up = 0, refused = 0, failed = 0, recognitions = 0, for_nobody = 0;
    double refusal_p95 = NAN, refusal_max = 0, answered_p95 = NAN;
    double recognition_seconds = 0, wasted_seconds = 0;
};

LoadFigures Summarise(const std::vector<UploadResult>& results, const std::vector<Recognition>& recognitions) {
    LoadFigures figures;
    std::vector<double> answered, refused, answer_times;
    for (const UploadResult& result : results) {
        if (result.complete && result.status == 200) {
            answered.push_back(result.seconds);
            answer_times.push_back(result.finished());
        } else if (result.status == 503) {
            refused.push_back(result.seconds);
            figures.refusal_max = std::max(figures.refusal_max, result.seconds);
        } else if (result.gave_up) {
            ++figures.gave_up;
        } else {
            ++figures.failed;
        }
    }
    figures.answered = static_cast<int>(answered.size());
    figures.refused = static_cast<int>(refused.size());
    figures.answered_p95 = Percentile95(answered);
    figures.refusal_p95 = Percentile95(refused);
    std::sort(answer_times.begin(), answer_times.end());
    std::size_t next = 0;
    figures.recognitions = static_cast<int>(recognitions.size());
    for (const Recognition& recognition : recognitions) {
        figures.recognition_seconds += recognition.seconds;
        while (next < answer_times.size() && answer_times[next] < recognition.logged - kMatchSeconds) ++next;
        if (next < answer_times.size() && answer_times[next] <= recognition.logged + kMatchSeconds) {
            ++next;
        } else {
            ++figures.for_nobody;
            figures.wasted_seconds += recognition.seconds;
        }
    }
    return figures;
}

// Other processes on the machine change every figure; the load average says how much.
void PrintMachineLoad(const char* when) {
    double load[3] = {};
    if (getloadavg(load, 3) == 3) std::printf("machine load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

double MeasureCapacity(const Setup& setup, const std::string& chunk) {
    const auto server = setup.Start();
    UploadClients clients(*server, chunk);
    clients.RunClosedLoop(setup.servers(), 0);  // loads what the first recognition touches
    const int client_count = kCapacityClients * setup.servers();
    const auto results = clients.RunClosedLoop(client_count, kCapacitySeconds);
    const auto recognitions = CollectRecognitions(*server, clients);
    int answered = 0;
    for (const UploadResult& result : results)
        answered += result.complete && result.status == 200 && result.finished() <= kCapacitySeconds;
    double recognition = 0;
    for (const Recognition& r : recognitions) recognition += r.seconds;
    std::printf("capacity: %d clients posting back to back for %.0f s: %d answered, %.2f uploads/s "
                "(mean recognition %.2f s of %.0f s audio)\n",
                client_count, kCapacitySeconds, answered, answered / kCapacitySeconds,
                recognitions.empty() ? NAN : recognition / static_cast<double>(recognitions.size()), kChunkSeconds);
    return answered / kCapacitySeconds;
}

// One row per load, then the goals; whether goodput, refusal time and the servers'
// health met theirs.
bool RunLoads(const Setup& setup, const std::vector<double>& loads, const std::string& chunk, double capacity,
              double seconds) {
    std::printf("\n| load | clients | offered/s | answered within 15 s | goodput of capacity | client gave up "
                "| 503 refusals | p95 time to 503 | p95 of the answered | other failures "
                "| recognitions for gone clients (share of recognition time) | servers marked down |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    bool goodput_kept = true, refusals_quick = true, none_for_nobody = true, light_unrefused = true, none_down = true;
    for (const double load : loads) {
        const int count = std::max(1, static_cast<int>(std::lround(load * capacity * kChunkSeconds)));
        const auto server = setup.Start();
        UploadClients clients(*server, chunk);
        const auto results = clients.RunOpenLoop(count, kChunkSeconds, seconds);
        const LoadFigures f = Summarise(results, CollectRecognitions(*server, clients));
        const double goodput = f.answered / seconds / capacity;
        const int down = server->servers_marked_down();
        std::printf("| %.1fx | %d | %.2f | %d of %zu | %.0f %% | %d | %d | %s | %s | %d | %d of %d (%.0f %%) | %d |\n",
                    load, count, count / kChunkSeconds, f.answered, results.size(), 100 * goodput, f.gave_up,
                    f.refused, SecondsText(f.refusal_p95).c_str(), SecondsText(f.answered_p95).c_str(), f.failed,
                    f.for_nobody, f.recognitions,
                    f.recognition_seconds > 0 ? 100 * f.wasted_seconds / f.recognition_seconds : 0.0, down);
        std::fflush(stdout);
        none_down = none_down && down == 0;
        if (load >= 2) goodput_kept = goodput_kept && goodput >= 0.9;
        if (load <= 1) light_unrefused = light_unrefused && f.refused == 0;
        refusals_quick = refusals_quick && f.refusal_max <= 1;
        none_for_nobody = none_for_nobody && f.for_nobody == 0;
    }
    const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf("\ngoals: goodput >= 90 %% of capacity at 2x and 4x: %s; every refusal within 1 s: %s; "
                "no recognition for a client that has gone: %s; nothing refused at 0.5x and 1x: %s; "
                "no server marked down: %s\n",
                verdict(goodput_kept), verdict(refusals_quick), verdict(none_for_nobody), verdict(light_unrefused),
                verdict(none_down));
    return goodput_kept && refusals_quick && none_down;
}

// "0.5,2" -> {0.5, 2}; empty when a value is not a positive number.
std::vector<double> ParseLoads(const std::string& text) {
    std::vector<double> loads;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const double load = std::atof(text.substr(at, comma - at).c_str());
        if (!(load > 0 && load <= 16)) return {};
        loads.push_back(load);
        at = comma + 1;
    }
    return loads;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Setup setup;
    double seconds = 60;
    std::vector<double> loads = {0.5, 1, 1.5, 2, 4};
    bool usable = !args.empty();
    for (std::size_t i = 1; usable && i < args.size(); ++i) {
        if (args[i] == "--haproxy" && i + 1 < args.size()) {
            setup.haproxy_config = args[++i];
        } else if (args[i] == "--loads" && i + 1 < args.size()) {
            loads = ParseLoads(args[++i]);
            usable = !loads.empty();
        } else {
            seconds = i == 1 ? std::atof(args[i].c_str()) : 0;
            usable = seconds >= kChunkSeconds && seconds <= 3600;
        }
    }
    if (!usable) {
        std::fprintf(stderr,
                     "usage: %s PATH/TO/valdrin-server [SECONDS PER LOAD, 7 to 3600, default 60] "
                     "[--haproxy CONFIG] [--loads 0.5,1,1.5,2,4]\n",
                     argv[0]);
        return 2;
    }
    setup.server_exe = args[0];
    curl_global_init(CURL_GLOBAL_ALL);
    int status = 0;
    try {
        const std::string chunk = SpeechChunk();
        std::printf("chunk: %.0f s of LibriVox speech, %zu bytes of MP3; each load runs %.0f s on %s\n", kChunkSeconds,
                    chunk.size(), seconds, setup.haproxy_config.empty() ? "one server" : "two servers behind HAProxy");
        PrintMachineLoad("at the start");
        const double capacity = MeasureCapacity(setup, chunk);
        if (capacity > 0) {
            status = RunLoads(setup, loads, chunk, capacity, seconds) ? 0 : 1;
            PrintMachineLoad("at the end");
        } else {
            std::fprintf(stderr, "the server answered nothing: no capacity to measure against\n");
            status = 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "load_bench: %s\n", e.what());
        status = 1;
    }
    curl_global_cleanup();
    return status;
}
