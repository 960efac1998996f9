// Client time of one upload of a 7 s chunk (64 kbit/s MP3, about 56 KB) to a loopback
// server that answers at once: connection, form, transfer and JSON interpretation.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/settings.h"
#include "tests/support/loopback_server.h"
#include "transcribe/server_client.h"

namespace {

constexpr std::size_t kSevenSecondMp3Bytes = 64000 / 8 * 7;

void BM_PostSevenSecondChunk(benchmark::State& state) {
    LoopbackServer server;
    server.SetReply({200, R"({"text":"go forward ten meters"})"});
    g_serverHost.Set("127.0.0.1");
    g_serverPort = server.Port();

    std::vector<std::uint8_t> mp3(kSevenSecondMp3Bytes);
    for (std::size_t i = 0; i < mp3.size(); ++i) mp3[i] = static_cast<std::uint8_t>(i * 31 + 7);
    std::string text;
    std::string error;
    for (auto _ : state) {
        if (!PostChunk(mp3, "en", text, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mp3.size()));
    g_serverHost.Set(kDefaultServerHost);
    g_serverPort = kDefaultServerPort;
}
// Fixed iterations: every upload leaves a connection in TIME_WAIT on the loopback.
BENCHMARK(BM_PostSevenSecondChunk)
    ->Iterations(200)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
