// Measures what the server costs: resident memory per recogniser, and the real-time
// factor (processing time / audio time) of each part of a request and of whole HTTP
// requests, one at a time and overlapping. Usage: server_figures [WORKERS, default 2]
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "server/http/inference_server.h"
#include "server/recognition/mp3_decoder.h"
#include "server/process_memory.h"
#include "server/recognition/recognizer_pool.h"
#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"

namespace {

using namespace speech_server;
using Clock = std::chrono::steady_clock;

constexpr double kMebibyte = 1024.0 * 1024.0;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of the calling thread: unlike wall time, it does not grow when other
// processes share the cores.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Clip {
    std::string name;
    double seconds;
    std::string mp3;
};

std::vector<Clip> LoadClips() {
    std::vector<Clip> clips;
    auto add = [&clips](std::string name, const std::vector<std::int16_t>& samples) {
        const auto mp3 = testing::EncodeMp3(samples, 16000, 1);
        clips.push_back({std::move(name), static_cast<double>(samples.size()) / kSampleRate, {mp3.begin(), mp3.end()}});
    };
    add("goforward", testing::GoForwardSamples());
    for (const auto& clip : testing::LibrivoxClips()) add(clip.name.substr(clip.name.size() - 4), clip.samples);
    return clips;
}

std::unique_ptr<RecognizerPool> LoadPool(std::size_t workers) {
    const std::size_t before = ResidentBytes();
    const auto start = Clock::now();
    auto pool = std::make_unique<RecognizerPool>(workers, ModelPaths{});
    const double seconds = SecondsSince(start);
    const double added = static_cast<double>(ResidentBytes() - before) / kMebibyte;
    std::printf("memory: resident %.0f MiB before, %.0f MiB with %zu recognisers: %.1f MiB per recogniser "
                "(loading %.2f s each)\n",
                static_cast<double>(before) / kMebibyte, static_cast<double>(ResidentBytes()) / kMebibyte, workers,
                added / static_cast<double>(workers), seconds / static_cast<double>(workers));
    return pool;
}

// The request's work without HTTP, on one thread, in wall and CPU time.
void MeasureStages(RecognizerPool& pool, const std::vector<Clip>& clips) {
    std::printf("\nstages, one request at a time (rtf = time / audio time)\n");
    std::printf("%-10s %7s %12s %14s %14s\n", "clip", "audio s", "mp3 rtf", "recognise rtf", "recognise cpu");
    auto recognizer = pool.Acquire(std::chrono::seconds(1));
    double audio = 0, wall = 0, cpu = 0;
    for (const Clip& clip : clips) {
        const auto decode_start = Clock::now();
        const Mp3Decoding decoded = DecodeMp3(reinterpret_cast<const std::uint8_t*>(clip.mp3.data()), clip.mp3.size(),
                                              60 * kSampleRate);
        const double decode = SecondsSince(decode_start);
        const auto start = Clock::now();
        const double cpu_start = ThreadCpuSeconds();
        (*recognizer)->Recognize(decoded.samples.data(), decoded.samples.size());
        const double recognise_cpu = ThreadCpuSeconds() - cpu_start;
        const double recognise = SecondsSince(start);
        std::printf("%-10s %7.2f %12.4f %14.3f %14.3f\n", clip.name.c_str(), clip.seconds, decode / clip.seconds,
                    recognise / clip.seconds, recognise_cpu / clip.seconds);
        audio += clip.seconds;
        wall += recognise;
        cpu += recognise_cpu;
    }
    std::printf("%-10s %7.2f %12s %14.3f %14.3f\n", "all", audio, "", wall / audio, cpu / audio);
}

double PostSeconds(int port, const Clip& clip, int& status) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(120, 0);
    const auto start = Clock::now();
    auto result = client.Post("/inference", httplib::MultipartFormDataItems{
                                                {"file", clip.mp3, "audio_16k_mono.mp3", "audio/mpeg"},
                                                {"language", "en", "", ""}});
    status = result ? result->status : -1;
    return SecondsSince(start);
}

void MeasureRequests(RecognizerPool& pool, const std::vector<Clip>& clips) {
    InferenceServer server(ServerSettings{}, [](const std::string&) {});
    std::string error;
    if (!server.Bind("127.0.0.1", 0, error)) {
        std::printf("cannot bind: %s\n", error.c_str());
        return;
    }
    auto running = std::async(std::launch::async, [&server, &pool] { server.Run(pool); });

    std::printf("\nHTTP requests one at a time (wall time)\n%-10s %7s %10s %8s\n", "clip", "audio s", "request s",
                "rtf");
    for (const Clip& clip : clips) {
        int status = 0;
        const double seconds = PostSeconds(server.port(), clip, status);
        std::printf("%-10s %7.2f %10.3f %8.3f  HTTP %d\n", clip.name.c_str(), clip.seconds, seconds,
                    seconds / clip.seconds, status);
    }

    std::printf("\nall %zu requests at once on %zu workers (wall time)\n%-10s %7s %10s %8s\n", clips.size(),
                pool.size(), "clip", "audio s", "answer s", "rtf");
    const auto start = Clock::now();
    std::vector<std::future<std::pair<double, int>>> answers;
    for (const Clip& clip : clips) {
        answers.push_back(std::async(std::launch::async, [&server, &clip] {
            int status = 0;
            const double seconds = PostSeconds(server.port(), clip, status);
            return std::make_pair(seconds, status);
        }));
    }
    double audio = 0;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const auto [seconds, status] = answers[i].get();
        audio += clips[i].seconds;
        std::printf("%-10s %7.2f %10.3f %8.3f  HTTP %d\n", clips[i].name.c_str(), clips[i].seconds, seconds,
                    seconds / clips[i].seconds, status);
    }
    const double total = SecondsSince(start);
    std::printf("%.2f s of audio answered in %.2f s: throughput rtf %.3f\n", audio, total, total / audio);
    server.Stop();
    running.wait();
}

}  // namespace

int main(int argc, char** argv) {
    const int workers = argc > 1 ? std::atoi(argv[1]) : 2;
    if (workers < 1 || workers > 16) {
        std::fprintf(stderr, "usage: %s [WORKERS 1..16]\n", argv[0]);
        return 2;
    }
    const std::vector<Clip> clips = LoadClips();
    auto pool = LoadPool(static_cast<std::size_t>(workers));
    MeasureStages(*pool, clips);
    MeasureRequests(*pool, clips);
    std::printf("\nresident memory at the end: %.0f MiB\n", static_cast<double>(ResidentBytes()) / kMebibyte);
    return 0;
}
