// The capture thread's share of one chunk: the start and registration of its worker
// (LaunchChunkJob), and all the per-packet work of a 7 s chunk including its cut.
// Workers really run: they encode and post to a loopback server that answers at once.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/settings.h"
#include "audio/packet_processor.h"
#include "tests/support/loopback_server.h"
#include "tests/support/mix_formats.h"
#include "transcribe/chunk_job.h"

namespace {

// The workers get empty chunks and end at once, so that their encoding does not
// compete with the launches being timed; the samples are moved in either way.
void BM_LaunchChunkJob(benchmark::State& state) {
    for (auto _ : state) LaunchChunkJob({}, "en");
    JoinAllWorkers();
}
BENCHMARK(BM_LaunchChunkJob)->Iterations(100)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime()->Unit(
    benchmark::kMicrosecond);

// 700 packets of 10 ms, 48 kHz stereo float: one 7 s chunk cut and launched.
void BM_CaptureSideOfOneChunk(benchmark::State& state) {
    WAVEFORMATEX format = MakeFloatFormat(48000, 2);
    std::vector<float> packet(480 * 2);
    for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = 0.25f * static_cast<float>((i * 37) % 100) / 100.0f;
    constexpr double kChunkSeconds = 7.0;
    std::chrono::duration<double> spent{0};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CaptureContext context;
        context.mixFormat = &format;
        PacketProcessor processor;
        for (int p = 0; p < 700; ++p)
            ProcessCapturePacket(processor, context, reinterpret_cast<const std::uint8_t*>(packet.data()), 480, 0);
        spent += std::chrono::steady_clock::now() - start;
    }
    JoinAllWorkers();
    state.counters["pct_of_audio_time"] =
        100.0 * spent.count() / static_cast<double>(state.iterations()) / kChunkSeconds;
}
BENCHMARK(BM_CaptureSideOfOneChunk)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime()->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return 1;
    LoopbackServer server;
    server.SetReply({200, R"({"text":""})"});
    g_serverHost.Set("127.0.0.1");
    g_serverPort = server.Port();
    g_chunkSeconds = 7;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
