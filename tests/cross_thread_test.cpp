// Settings and the log used from several threads at once, as the window thread,
// the capture thread and the workers do. Built into the ThreadSanitizer run too.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/log_core.h"
#include "core/settings.h"
#include "audio/packet_processor.h"
#include "tests/support/chunk_recorder.h"
#include "tests/support/log_recorder.h"
#include "tests/support/mix_formats.h"

namespace {

TEST(CrossThread, ReadersSeeWholeSettingsWhileTheWindowThreadWrites) {
    g_chunkSeconds = 1;
    std::atomic<bool> done{false};
    const std::vector<std::string> hosts = {"127.0.0.1", "a-much-longer-host-name.example.invalid", ""};
    const std::vector<std::string> languages = {"auto", "en", "zh"};
    std::set<std::string> validUrls;
    for (const auto& host : hosts)
        for (int port : {8080, 9090}) validUrls.insert("http://" + host + ":" + std::to_string(port) + "/inference");

    std::thread writer([&] {
        for (int i = 0; !done.load(); ++i) {
            g_language.Set(languages[i % 3]);
            g_serverHost.Set(hosts[i % 3]);
            g_serverPort = (i % 2) ? 9090 : 8080;
        }
    });

    std::atomic<int> badUrls{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                if (!validUrls.count(BuildServerUrl())) ++badUrls;
        });
    }
    // A capture thread cutting one-second chunks from 10 ms packets.
    std::thread capture([] {
        WAVEFORMATEX format = MakePcmFormat(16000, 1, 16);
        CaptureContext context;
        context.mixFormat = &format;
        PacketProcessor processor(RecordChunk);
        std::vector<std::int16_t> packet(160, 1000);
        for (int p = 0; p < 1000; ++p)
            ProcessCapturePacket(processor, context, reinterpret_cast<const std::uint8_t*>(packet.data()), 160, 0);
    });

    for (auto& reader : readers) reader.join();
    capture.join();
    done = true;
    writer.join();

    EXPECT_EQ(badUrls.load(), 0);
    const auto chunks = TakeRecordedChunks();
    ASSERT_EQ(chunks.size(), 10u);
    for (const auto& chunk : chunks) EXPECT_TRUE(IsSupportedLanguage(chunk.language)) << chunk.language;

    g_chunkSeconds = kDefaultChunkSeconds;
    g_language.Set("zh");
    g_serverHost.Set(kDefaultServerHost);
    g_serverPort = kDefaultServerPort;
}

TEST(CrossThread, AppendsFromManyThreadsStayWholeAndInOrder) {
    LogRecorder recorder;
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                AppendLog("[Info] thread " + std::to_string(t) + " line " + std::to_string(i) + "\n");
        });
    }
    for (auto& thread : threads) thread.join();

    const auto entries = recorder.Entries();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kLines));
    std::map<int, int> next;
    for (const auto& entry : entries) {
        int thread = -1, line = -1;
        ASSERT_EQ(std::sscanf(entry.c_str(), "[Info] thread %d line %d\n", &thread, &line), 2) << entry;
        ASSERT_EQ(entry, "[Info] thread " + std::to_string(thread) + " line " + std::to_string(line) + "\n");
        EXPECT_EQ(line, next[thread]++) << "thread " << thread << " out of order";
    }
}

TEST(Log, WithoutSinkTextIsDroppedAndEmptyTextIsPassedOn) {
    AppendLog("[Info] nobody listens\n");  // must simply do nothing
    LogRecorder recorder;
    AppendLog("");
    AppendLog("transcript\r\n");
    EXPECT_EQ(recorder.Entries(), (std::vector<std::string>{"", "transcript\r\n"}));
}

}  // namespace
