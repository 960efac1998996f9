// Peak resident memory of the server while uploads that never end stream in: the
// idle server (after one ordinary upload), then each streaming upload of the hostile
// table sent up to MIB mebibytes, with the growth of the peak over the idle server.
// Usage: upload_memory_figures [MIB, default 600] [WORKERS, default 2]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include <httplib.h>

#include "server/http/inference_server.h"
#include "server/process_memory.h"
#include "server/recognition/recognizer_pool.h"
#include "server/tests/support/hostile_upload.h"
#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"

namespace {

using namespace speech_server;

constexpr double kMebibyte = 1024.0 * 1024.0;

double Mib(std::size_t bytes) { return static_cast<double>(bytes) / kMebibyte; }

// The highest resident memory seen while `work` runs, sampled every 2 ms.
template <typename Work>
std::size_t PeakResidentDuring(Work work) {
    std::atomic<bool> done{false};
    std::size_t peak = ResidentBytes();
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak, ResidentBytes());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    work();
    done = true;
    sampler.join();
    return std::max(peak, ResidentBytes());
}

}  // namespace

int main(int argc, char** argv) {
    const long mebibytes = argc > 1 ? std::atol(argv[1]) : 600;
    const int workers = argc > 2 ? std::atoi(argv[2]) : 2;
    if (mebibytes < 1 || workers < 1 || workers > 16) {
        std::fprintf(stderr, "usage: %s [MIB] [WORKERS 1..16]\n", argv[0]);
        return 2;
    }
    RecognizerPool pool(static_cast<std::size_t>(workers), ModelPaths{});
    InferenceServer server(ServerSettings{}, [](const std::string&) {});
    std::string error;
    if (!server.Bind("127.0.0.1", 0, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    auto running = std::async(std::launch::async, [&] { server.Run(pool); });

    const auto mp3 = testing::EncodeMp3(testing::GoForwardSamples(), 16000, 1);
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(60, 0);
    auto warm_up = client.Post("/inference", httplib::MultipartFormDataItems{
                                                 {"file", std::string(mp3.begin(), mp3.end()), "a.mp3", "audio/mpeg"}});
    const std::size_t idle = ResidentBytes();
    std::printf("idle server with %d workers after one upload (HTTP %d): resident %.0f MiB\n", workers,
                warm_up ? warm_up->status : -1, Mib(idle));
    std::printf("%-28s %-8s %12s %14s %12s\n", "upload", "answer", "sent MiB", "peak growth", "after");
    for (const testing::HostileUpload& upload : testing::EndlessUploads()) {
        if (upload.filler.size() < 1024) continue;  // the slow ones send next to nothing
        testing::HostileOutcome outcome;
        const std::size_t peak = PeakResidentDuring([&] {
            outcome = testing::SendUntilAnswered(server.port(), upload, static_cast<std::size_t>(mebibytes) << 20);
        });
        const std::string status = outcome.answer.empty() ? "none" : outcome.answer.substr(9, 3);
        std::printf("%-28s %-8s %12.1f %10.1f MiB %8.0f MiB\n", upload.name, status.c_str(), Mib(outcome.sent),
                    Mib(peak) - Mib(idle), Mib(ResidentBytes()));
    }
    auto after = client.Post("/inference", httplib::MultipartFormDataItems{
                                               {"file", std::string(mp3.begin(), mp3.end()), "a.mp3", "audio/mpeg"}});
    std::printf("an ordinary upload afterwards: HTTP %d\n", after ? after->status : -1);
    server.Stop();
    running.wait();
    return 0;
}
