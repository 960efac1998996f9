// Time and peak memory of reading the most costly answer to show: 16 MiB (the size cap)
// of numbers nested 32 levels (the depth bound), which has no transcript and so is shown
// serialised at indent 2, which would make it 536 MB of text.
#include <benchmark/benchmark.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <string>

#include "transcribe/server_answer.h"
#include "transcribe/server_client.h"

namespace {

std::string DeepestLargestAnswer() {
    std::string body(32, '[');
    body += '0';
    while (body.size() + 2 + 32 <= kMaxResponseBytes) body += ",0";
    return body + std::string(32, ']');
}

void BM_ShowDeepestLargestAnswer(benchmark::State& state) {
    const std::string body = DeepestLargestAnswer();
    std::string text;
    std::string error;
    for (auto _ : state) {
        if (!InterpretAnswer(200, body, text, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(text);
    }
#ifndef _WIN32
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
    state.counters["shown_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ShowDeepestLargestAnswer)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
