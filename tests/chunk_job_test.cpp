// Chunk workers against a real loopback server: what is sent, what is logged, and
// how close waits for them.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "audio/packet_processor.h"
#include "tests/support/curl_environment.h"
#include "tests/support/log_recorder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/memory_transcript.h"
#include "tests/support/mix_formats.h"
#include "tests/support/mp3_decode.h"
#include "tests/support/signal_compare.h"
#include "tests/support/test_signal.h"
#include "transcribe/chunk_job.h"

namespace {

const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

using namespace std::chrono_literals;

std::string PartContent(const RecordedRequest& request, const std::string& name) {
    for (const auto& part : request.parts)
        if (part.name == name) return part.content;
    return "<no part " + name + ">";
}

// Answers each chunk with its own language code as the transcript.
Reply EchoLanguage(const RecordedRequest& request) {
    return Reply(200, R"({"text":")" + PartContent(request, "language") + R"("})");
}

class ChunkJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_isShuttingDown = false;
        g_serverHost.Set("127.0.0.1");
        g_serverPort = server_.Port();
    }
    void TearDown() override {
        g_seamAfterWorkerStart = nullptr;
        g_seamAfterEncoding = nullptr;
        JoinAllWorkers();
        g_isShuttingDown = false;
        g_serverHost.Set(kDefaultServerHost);
        g_serverPort = kDefaultServerPort;
        g_language.Set("zh");
        g_chunkSeconds = kDefaultChunkSeconds;
    }

    static std::vector<std::int16_t> OneSecond() { return test_signal::SpeechLike(16000, 7); }

    LoopbackServer server_;
    LogRecorder log_;
};

TEST_F(ChunkJobTest, SendsTheEncodedChunkAndLogsTheTranscript) {
    server_.SetReply(Reply(200, R"({"text":"hello world"})"));
    const auto samples = OneSecond();
    LaunchChunkJob(std::vector<std::int16_t>(samples), "en");
    JoinAllWorkers();

    EXPECT_EQ(log_.Entries(), std::vector<std::string>{"hello world\r\n"});
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(PartContent(requests[0], "language"), "en");
    const std::string file = PartContent(requests[0], "file");
    DecodedMp3 decoded;
    std::string error;
    ASSERT_TRUE(DecodeMp3(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(), decoded, error)) << error;
    const auto delay = FindDelay(samples, decoded.samples, 3000);
    EXPECT_GT(SnrDb(samples, decoded.samples, delay), 15.0);
}

TEST_F(ChunkJobTest, EachOutcomeIsExactlyOneLine) {
    server_.SetHandler([](const RecordedRequest& request) {
        const std::string language = PartContent(request, "language");
        if (language == "en") return Reply(200, R"({"text":""})");
        if (language == "auto") return Reply(500, "boom");
        return Reply(200, R"({"segments":[{"text":"a"},{"text":"b"}]})");
    });
    auto transcript = std::make_shared<std::string>();
    SetRecordingTranscript(std::make_shared<Transcript>(std::make_unique<MemoryTranscript>(transcript)));
    LaunchChunkJob(OneSecond(), "en");    // empty transcript: no line
    JoinAllWorkers();
    LaunchChunkJob(OneSecond(), "auto");  // server error
    JoinAllWorkers();
    LaunchChunkJob(OneSecond(), "zh");    // transcript from segments
    JoinAllWorkers();
    LaunchChunkJob({}, "zh");             // nothing to encode: nothing sent
    JoinAllWorkers();
    g_isShuttingDown = true;
    LaunchChunkJob(OneSecond(), "zh");    // dropped at close
    SetRecordingTranscript(nullptr);

    EXPECT_EQ(log_.Entries(), (std::vector<std::string>{"[Error] POST failed: HTTP 500: boom\n", "a b\r\n",
                                                         "[Error] MP3 encoding failed\n"}));
    EXPECT_EQ(server_.Requests().size(), 3u);
    // Every chunk has its line, with the pane's words for a failure.
    const std::string stamp = TranscriptEntry(CaptureTime(), "").substr(0, 11);
    EXPECT_EQ(*transcript, stamp + "(no text)\r\n" + stamp + "(no text: POST failed: HTTP 500: boom)\r\n" +
                                     stamp + "a b\r\n" + stamp + "(no text: MP3 encoding failed)\r\n" + stamp +
                                     "(no text: not sent)\r\n");
}

TEST_F(ChunkJobTest, UnreachableServerIsReportedWithLibcurlsWords) {
    server_.Stop();
    LaunchChunkJob(OneSecond(), "zh");
    JoinAllWorkers();
    EXPECT_EQ(log_.Entries(), std::vector<std::string>{std::string("[Error] POST failed: ") +
                                                       curl_easy_strerror(CURLE_COULDNT_CONNECT) + "\n"});
}

TEST_F(ChunkJobTest, LinesFollowTheOrderInWhichUploadsComplete) {
    server_.SetHandler([](const RecordedRequest& request) {
        Reply reply = EchoLanguage(request);
        if (PartContent(request, "language") == "zh") reply.delay = 800ms;
        return reply;
    });
    LaunchChunkJob(OneSecond(), "zh");
    ASSERT_TRUE(server_.WaitForRequests(1, 5s));
    LaunchChunkJob(OneSecond(), "en");
    JoinAllWorkers();
    EXPECT_EQ(log_.Entries(), (std::vector<std::string>{"en\r\n", "zh\r\n"}));
}

TEST_F(ChunkJobTest, RegistryKeepsEveryWorkerUntilTheClose) {
    server_.SetHandler(EchoLanguage);
    for (int i = 0; i < 3; ++i) LaunchChunkJob(OneSecond(), "en");
    ASSERT_TRUE(log_.WaitForEntries(3, 10s));
    {
        std::lock_guard<std::mutex> lock(g_workersMutex);
        EXPECT_EQ(g_workers.size(), 3u);  // finished, still registered
    }
    JoinAllWorkers();
    std::lock_guard<std::mutex> lock(g_workersMutex);
    EXPECT_TRUE(g_workers.empty());
}

TEST_F(ChunkJobTest, NothingStartsOrIsSentOnceClosing) {
    server_.SetHandler(EchoLanguage);
    g_isShuttingDown = true;
    LaunchChunkJob(OneSecond(), "en");
    {
        std::lock_guard<std::mutex> lock(g_workersMutex);
        EXPECT_TRUE(g_workers.empty());
    }
    ChunkJob job(OneSecond(), "en");
    job();  // a worker that starts during the close ends at once
    JoinAllWorkers();
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_TRUE(log_.Entries().empty());
}

// What the window thread does at close, up to joining the registered workers.
void BeginClose() {
    g_isShuttingDown = true;
    JoinAllWorkers();
}

TEST_F(ChunkJobTest, CloseBetweenAWorkersStartAndItsRegistrationLeavesNoWorkerBehind) {
    server_.SetHandler(EchoLanguage);
    g_seamAfterWorkerStart = BeginClose;
    LaunchChunkJob(OneSecond(), "en");
    // The registry was taken before this worker was registered: the launching thread
    // must have joined it itself instead of adding it.
    std::lock_guard<std::mutex> lock(g_workersMutex);
    EXPECT_TRUE(g_workers.empty()) << "a worker was registered after the close took the registry";
}

TEST_F(ChunkJobTest, CloseDuringEncodingKeepsTheChunkFromBeingSent) {
    server_.SetHandler(EchoLanguage);
    g_seamAfterEncoding = [] { g_isShuttingDown = true; };  // the close has begun
    LaunchChunkJob(OneSecond(), "en");
    JoinAllWorkers();
    EXPECT_TRUE(server_.Requests().empty()) << "sent although the close began before the upload";
    EXPECT_TRUE(log_.Entries().empty());
}

TEST_F(ChunkJobTest, CloseWaitsForUploadsInFlightAndTheirLines) {
    server_.SetHandler([](const RecordedRequest& request) {
        Reply reply = EchoLanguage(request);
        reply.delay = 700ms;
        return reply;
    });
    LaunchChunkJob(OneSecond(), "en");
    ASSERT_TRUE(server_.WaitForRequests(1, 5s));
    g_isShuttingDown = true;  // the worker is past its last test: it finishes
    JoinAllWorkers();
    EXPECT_EQ(log_.Entries(), std::vector<std::string>{"en\r\n"});
}

TEST_F(ChunkJobTest, CutChunksCarryTheLanguageOfTheirCut) {
    server_.SetHandler(EchoLanguage);
    g_chunkSeconds = 1;
    WAVEFORMATEX format = MakePcmFormat(16000, 1, 16);
    CaptureContext context;
    context.mixFormat = &format;
    PacketProcessor processor;
    const auto audio = test_signal::SpeechLike(16000, 3);

    g_language.Set("en");
    ProcessCapturePacket(processor, context, reinterpret_cast<const std::uint8_t*>(audio.data()), 16000, 0);
    g_language.Set("auto");  // after the cut: the chunk in flight keeps "en"
    JoinAllWorkers();
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(PartContent(server_.Requests()[0], "language"), "en");
    EXPECT_EQ(log_.Entries(), std::vector<std::string>{"en\r\n"});
}

}  // namespace
