// How the server keeps its goodput under overload. Measures its capacity (uploads per
// second answered, four clients posting back to back), then offers 0.5, 1, 1.5, 2 and 4
// times that: clients each posting a 7 s LibriVox chunk (MP3 as the tool makes it) every
// 7 s from staggered starts, each giving up after 15 s as the tool does. Every load runs
// on a freshly started server with its default 2 workers, so that one load's backlog
// cannot spill into the next.
//
//   load_bench PATH/TO/valdrin-server [SECONDS PER LOAD, default 60]
//
// Recognitions for clients that had gone are found in the server's log: each line with
// "recognition=" is matched to an answer the clients received within 0.5 s of it; the
// lines left over (logged during the load or within 2 s after it) were for nobody.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

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
const double kLoads[] = {0.5, 1, 1.5, 2, 4};

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
std::vector<Recognition> CollectRecognitions(ServerChild& server, const UploadClients& clients) {
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

double MeasureCapacity(const std::string& exe, const std::string& chunk) {
    ServerChild server(exe);
    UploadClients clients(server, chunk);
    clients.RunClosedLoop(1, 0);  // loads what the first recognition touches
    const auto results = clients.RunClosedLoop(kCapacityClients, kCapacitySeconds);
    const auto recognitions = CollectRecognitions(server, clients);
    int answered = 0;
    for (const UploadResult& result : results)
        answered += result.complete && result.status == 200 && result.finished() <= kCapacitySeconds;
    double recognition = 0;
    for (const Recognition& r : recognitions) recognition += r.seconds;
    std::printf("capacity: %d clients posting back to back for %.0f s: %d answered, %.2f uploads/s "
                "(mean recognition %.2f s of %.0f s audio)\n",
                kCapacityClients, kCapacitySeconds, answered, answered / kCapacitySeconds,
                recognitions.empty() ? NAN : recognition / static_cast<double>(recognitions.size()), kChunkSeconds);
    return answered / kCapacitySeconds;
}

// One row per load, then the goals.
void RunLoads(const std::string& exe, const std::string& chunk, double capacity, double seconds) {
    std::printf("\n| load | clients | offered/s | answered within 15 s | goodput of capacity | client gave up "
                "| 503 refusals | p95 time to 503 | p95 of the answered | other failures "
                "| recognitions for gone clients (share of recognition time) |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|\n");
    bool goodput_kept = true, refusals_quick = true, none_for_nobody = true, light_unrefused = true;
    for (const double load : kLoads) {
        const int count = std::max(1, static_cast<int>(std::lround(load * capacity * kChunkSeconds)));
        ServerChild server(exe);
        UploadClients clients(server, chunk);
        const auto results = clients.RunOpenLoop(count, kChunkSeconds, seconds);
        const LoadFigures f = Summarise(results, CollectRecognitions(server, clients));
        const double goodput = f.answered / seconds / capacity;
        std::printf("| %.1fx | %d | %.2f | %d of %zu | %.0f %% | %d | %d | %s | %s | %d | %d of %d (%.0f %%) |\n",
                    load, count, count / kChunkSeconds, f.answered, results.size(), 100 * goodput, f.gave_up,
                    f.refused, SecondsText(f.refusal_p95).c_str(), SecondsText(f.answered_p95).c_str(), f.failed,
                    f.for_nobody, f.recognitions,
                    f.recognition_seconds > 0 ? 100 * f.wasted_seconds / f.recognition_seconds : 0.0);
        std::fflush(stdout);
        if (load >= 2) goodput_kept = goodput_kept && goodput >= 0.9;
        if (load <= 1) light_unrefused = light_unrefused && f.refused == 0;
        refusals_quick = refusals_quick && f.refusal_max <= 1;
        none_for_nobody = none_for_nobody && f.for_nobody == 0;
    }
    const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf("\ngoals: goodput >= 90 %% of capacity at 2x and 4x: %s; every refusal within 1 s: %s; "
                "no recognition for a client that has gone: %s; nothing refused at 0.5x and 1x: %s\n",
                verdict(goodput_kept), verdict(refusals_quick), verdict(none_for_nobody), verdict(light_unrefused));
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 2 ? std::atof(argv[2]) : 60;
    if (argc < 2 || argc > 3 || !(seconds >= kChunkSeconds && seconds <= 3600)) {
        std::fprintf(stderr, "usage: %s PATH/TO/valdrin-server [SECONDS PER LOAD, 7 to 3600, default 60]\n", argv[0]);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_ALL);
    int status = 0;
    try {
        const std::string chunk = SpeechChunk();
        std::printf("chunk: %.0f s of LibriVox speech, %zu bytes of MP3; each load runs %.0f s\n", kChunkSeconds,
                    chunk.size(), seconds);
        PrintMachineLoad("at the start");
        const double capacity = MeasureCapacity(argv[1], chunk);
        if (capacity > 0) {
            RunLoads(argv[1], chunk, capacity, seconds);
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
