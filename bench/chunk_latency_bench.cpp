// The tool's share of a transcript's latency: from the packet that completes a 7 s
// chunk to the whole request having arrived at a loopback server (cut, worker start,
// MP3 encoding, connection and upload). Prints the median and the worst of 15 chunks.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/settings.h"
#include "audio/packet_processor.h"
#include "tests/support/loopback_server.h"
#include "tests/support/mix_formats.h"
#include "transcribe/chunk_job.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

int main() {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return 1;
    std::mutex arrivalsMutex;
    std::vector<Clock::time_point> arrivals;
    {
        LoopbackServer server;
        server.SetHandler([&](const RecordedRequest&) {
            std::lock_guard<std::mutex> lock(arrivalsMutex);
            arrivals.push_back(Clock::now());
            return Reply(200, R"({"text":""})");
        });
        g_serverHost.Set("127.0.0.1");
        g_serverPort = server.Port();
        g_chunkSeconds = 7;

        WAVEFORMATEX format = MakeFloatFormat(48000, 2);
        std::vector<float> packet(480 * 2);
        CaptureContext context;
        context.mixFormat = &format;
        PacketProcessor processor;
        constexpr int kChunks = 15;
        std::vector<Clock::time_point> cuts;
        for (int p = 0; cuts.size() < static_cast<std::size_t>(kChunks); ++p) {
            for (std::size_t i = 0; i < packet.size(); ++i)
                packet[i] = 0.3f * static_cast<float>(std::sin(0.05 * static_cast<double>(p * 480 + i / 2)));
            const auto before = Clock::now();
            const std::size_t queued = context.pendingSamples.size();
            ProcessCapturePacket(processor, context, reinterpret_cast<const std::uint8_t*>(packet.data()), 480, 0);
            if (context.pendingSamples.size() < queued) {
                cuts.push_back(before);
                server.WaitForRequests(cuts.size(), std::chrono::seconds(10));  // one chunk at a time
            }
        }
        JoinAllWorkers();

        std::vector<double> ms;
        for (std::size_t i = 0; i < cuts.size() && i < arrivals.size(); ++i)
            ms.push_back(std::chrono::duration<double, std::milli>(arrivals[i] - cuts[i]).count());
        std::sort(ms.begin(), ms.end());
        if (ms.empty()) return 1;
        std::printf("chunks: %zu of 7 s (48 kHz stereo float packets)\n", ms.size());
        std::printf("cut to request arrived: median %.1f ms, worst %.1f ms (target < 50 ms)\n", ms[ms.size() / 2],
                    ms.back());
    }
    curl_global_cleanup();
    return 0;
}
