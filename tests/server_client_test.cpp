#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <nlohmann/json.hpp>

#include "core/settings.h"
#include "tests/support/curl_environment.h"
#include "tests/support/loopback_server.h"
#include "transcribe/server_answer.h"
#include "transcribe/server_client.h"

#ifdef _WIN32
#include <windows.h>
#endif
#ifdef __linux__
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

struct Outcome {
    bool ok = false;
    std::string text;
    std::string error;
};

// Every byte value, and the bytes that could end a multipart part early.
std::vector<std::uint8_t> AwkwardMp3(std::size_t size) {
    const std::string delimiterLike = "\r\n--\r\n\r\n--------------------------";
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; bytes.size() < size; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i * 7));
        if (i % 1000 == 0) bytes.insert(bytes.end(), delimiterLike.begin(), delimiterLike.end());
    }
    bytes.resize(size);
    return bytes;
}

std::string AsString(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class ServerClientTest : public ::testing::Test {
protected:
    void SetUp() override { PointAt(server_.Port()); }

    void TearDown() override {
        g_serverHost.Set(kDefaultServerHost);
        g_serverPort = kDefaultServerPort;
    }

    static void PointAt(std::uint16_t port) {
        g_serverHost.Set("127.0.0.1");
        g_serverPort = port;
    }

    // The out-strings start dirty to show that every outcome resets both.
    static Outcome Post(const std::vector<std::uint8_t>& mp3 = {0x49, 0x44, 0x33}, const std::string& language = "zh") {
        Outcome outcome{false, "stale text", "stale error"};
        outcome.ok = PostChunk(mp3, language, outcome.text, outcome.error);
        return outcome;
    }

    Outcome PostAnsweredWith(Reply reply) {
        server_.SetReply(std::move(reply));
        return Post();
    }

    Outcome PostAnsweredWith(int status, std::string body) {
        Reply reply;
        reply.status = status;
        reply.body = std::move(body);
        return PostAnsweredWith(std::move(reply));
    }

    void ExpectTranscript(const std::string& body, const std::string& transcript) {
        SCOPED_TRACE("answer: " + body);
        const Outcome outcome = PostAnsweredWith(200, body);
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.text, transcript);
        EXPECT_EQ(outcome.error, "");
    }

    static void ExpectFailure(const Outcome& outcome, const std::string& error) {
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.text, "");
        EXPECT_EQ(outcome.error, error);
    }

    LoopbackServer server_;
};

TEST_F(ServerClientTest, PostsTheMp3AndLanguageAsAMultipartForm) {
    // Above 1 MiB libcurl would announce "Expect: 100-continue" unless told not to.
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{56000}, std::size_t{1536 * 1024}}) {
        SCOPED_TRACE("mp3 bytes: " + std::to_string(size));
        const std::vector<std::uint8_t> mp3 = AwkwardMp3(size);
        server_.SetReply({200, R"({"text":"ok"})"});
        const std::size_t before = server_.Requests().size();
        ASSERT_TRUE(Post(mp3, "auto").ok);

        const std::vector<RecordedRequest> requests = server_.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        const RecordedRequest& request = requests.back();
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/inference");
        EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(server_.Port()));
        EXPECT_EQ(request.Header("Content-Type").value_or("").rfind("multipart/form-data; boundary=", 0), 0u);
        EXPECT_EQ(request.Header("Expect"), std::nullopt);
        EXPECT_EQ(request.Header("User-Agent"), std::nullopt);

        ASSERT_EQ(request.parts.size(), 2u);
        const FormPart& file = request.parts[0];
        EXPECT_EQ(file.name, "file");
        EXPECT_EQ(file.filename, "audio_16k_mono.mp3");
        EXPECT_EQ(file.contentType, "audio/mpeg");
        EXPECT_EQ(file.content, AsString(mp3));
        const FormPart& language = request.parts[1];
        EXPECT_EQ(language.name, "language");
        EXPECT_EQ(FindHeader(language.headers, "Content-Type"), std::nullopt);
        EXPECT_EQ(FindHeader(language.headers, "Content-Disposition"), R"(form-data; name="language")");
        EXPECT_EQ(language.content, "auto");
    }
}

TEST_F(ServerClientTest, SendsEachLanguageCodeUnchanged) {
    server_.SetReply({200, R"({"text":"ok"})"});
    for (const char* code : {"auto", "en", "zh"}) {
        ASSERT_TRUE(Post({1, 2}, code).ok);
        ASSERT_EQ(server_.Requests().back().parts.size(), 2u);
        EXPECT_EQ(server_.Requests().back().parts[1].content, code);
    }
}

TEST_F(ServerClientTest, TextMemberIsTheTranscript) {
    ExpectTranscript(R"({"text":"hello"})", "hello");
    ExpectTranscript(R"({"segments":[{"text":"x"}],"text":"hello"})", "hello");
    ExpectTranscript(R"({"text":""})", "");
    ExpectTranscript(R"({"text":"  two\nlines \"quoted\" "})", "  two\nlines \"quoted\" ");
    ExpectTranscript(R"({"text":"\u4f60\u597d"})", "\xE4\xBD\xA0\xE5\xA5\xBD");
    ExpectTranscript(" \t\r\n{\"text\":\"a\"} \r\n\t\n\n", "a");
}

TEST_F(ServerClientTest, SegmentTextsAreJoinedWithSpacesBetweenPieces) {
    ExpectTranscript(R"({"text":null,"segments":[{"text":"a"},{"text":"b"}]})", "a b");
    ExpectTranscript(R"({"text":5,"segments":[{"text":"a"},{"text":"b"}]})", "a b");
    ExpectTranscript(R"({"segments":[{"text":" a"},{"text":" b"},{"text":" c"}]})", " a  b  c");
    ExpectTranscript(R"({"segments":[{"text":""},{"text":"a"}]})", "a");
    ExpectTranscript(R"({"segments":[{"text":"a"},{"text":""}]})", "a ");
    ExpectTranscript(R"({"segments":[{"text":"a"},{"text":""},{"text":"b"}]})", "a  b");
    ExpectTranscript(R"({"segments":[1,"s",null,[],{"t":"x"},{"text":3},{"TEXT":"y"},{"text":"a"},{"text":"b"}]})",
                     "a b");
}

TEST_F(ServerClientTest, AnswersWithoutTranscriptAreShownSerialised) {
    ExpectTranscript(R"({"segments":[]})", "{\n  \"segments\": []\n}");
    ExpectTranscript(R"({"segments":[{"text":""}]})",
                     "{\n  \"segments\": [\n    {\n      \"text\": \"\"\n    }\n  ]\n}");
    ExpectTranscript(R"({"segments":[1,{"text":null}]})",
                     "{\n  \"segments\": [\n    1,\n    {\n      \"text\": null\n    }\n  ]\n}");
    ExpectTranscript(R"({"segments":{"text":"a"}})", "{\n  \"segments\": {\n    \"text\": \"a\"\n  }\n}");
    ExpectTranscript(R"({"b":1,"a":2,"B":[true,false]})",
                     "{\n  \"B\": [\n    true,\n    false\n  ],\n  \"a\": 2,\n  \"b\": 1\n}");
    ExpectTranscript(R"({"Text":"a"})", "{\n  \"Text\": \"a\"\n}");
    ExpectTranscript("[1,[2,{}]]", "[\n  1,\n  [\n    2,\n    {}\n  ]\n]");
    ExpectTranscript(R"({})", "{}");
    ExpectTranscript(R"([])", "[]");
    ExpectTranscript(R"("hi")", "\"hi\"");
    ExpectTranscript("42", "42");
    ExpectTranscript("-1.5", "-1.5");
    ExpectTranscript("true", "true");
    ExpectTranscript("null", "null");
    // Non-ASCII stays UTF-8, however the server wrote it.
    ExpectTranscript("[\"\\u00e9\",\"\xC3\xA9\"]", "[\n  \"\xC3\xA9\",\n  \"\xC3\xA9\"\n]");
}

TEST_F(ServerClientTest, AnythingButOneJsonValueIsRejected) {
    for (const std::string& body :
         {std::string(""), std::string(" \r\n"), std::string(R"({"text":"a"} x)"), std::string(R"({"text":"a"}{})"),
          std::string(R"(/* c */ {"text":"a"})"), std::string("{\"text\":\"a\"} // c"), std::string(R"({"text":"a")"),
          std::string("{'text':'a'}"), std::string("NaN"), "{\"text\":\"a\"}\0"s, "{\"text\":\"a\"} \0 more"s,
          "\x00\x01\xFF\xFE"s}) {
        SCOPED_TRACE("answer: " + body);
        ExpectFailure(PostAnsweredWith(200, body), "Invalid JSON from server");
    }
}

TEST_F(ServerClientTest, InvalidUnicodeInsideJsonIsRejected) {
    // The parser validates UTF-8 and surrogate pairs, so nothing invalid ever reaches
    // the strict serialiser.
    for (const std::string& body : {std::string("{\"text\":\"\xFF\"}"), std::string("{\"\xC3\":1}"),
                                    std::string("{\"segments\":[{\"text\":\"a\xE4\xBD\"}]}"),
                                    std::string(R"({"text":"\ud800"})"), std::string(R"(["\udc00x"])")}) {
        SCOPED_TRACE("answer: " + body);
        ExpectFailure(PostAnsweredWith(200, body), "Invalid JSON from server");
    }
}

// Each answer is read on a thread of its own, as a worker reads it: under Windows that
// is the 2 MiB stack the exe reserves. Every shape is read as usual when nested to the
// limit and is unreadable one level deeper, wherever the depth sits.
TEST_F(ServerClientTest, DeepAnswersAreBoundedOnAWorkerStack) {
    const auto readOnWorker = [this](const std::string& body) {
        server_.SetReply({200, body});
        Outcome outcome;
        std::thread([&outcome] {
#ifdef _WIN32
            ULONG_PTR low = 0, high = 0;
            GetCurrentThreadStackLimits(&low, &high);
            EXPECT_LE(high - low, ULONG_PTR{2} << 20);
#endif
            outcome = Post();
        }).join();
        return outcome;
    };
    const auto arrays = [](std::size_t depth, const char* inner) {
        return std::string(depth, '[') + inner + std::string(depth, ']');
    };
    const std::size_t limit = 32;  // the deepest an answer may nest, as the header promises
    for (const std::size_t depth : {limit, limit + 1}) {
        std::string objects = "1";
        for (std::size_t i = 0; i < depth; ++i) objects = R"({"a":)" + objects + "}";
        // Answers nested `depth` deep and their transcripts at the limit; "" for the serialised answer.
        const std::pair<std::string, std::string> cases[] = {
            {arrays(depth, ""), ""},
            {objects, ""},
            {R"({"segments":)" + arrays(depth - 1, "") + "}", ""},
            {R"({"segments":[{"text":"a"},)" + arrays(depth - 2, "") + "]}", "a"},
            {R"({"text":)" + arrays(depth - 1, R"("x")") + "}", ""},
            {R"({"text":"a","z":)" + arrays(depth - 1, "") + "}", "a"},
        };
        for (const auto& [body, transcript] : cases) {
            SCOPED_TRACE("answer: " + body);
            const Outcome outcome = readOnWorker(body);
            if (depth > limit) {
                ExpectFailure(outcome, "Invalid JSON from server");
            } else {
                EXPECT_TRUE(outcome.ok);
                EXPECT_EQ(outcome.text, transcript.empty() ? nlohmann::json::parse(body).dump(2) : transcript);
            }
        }
    }
    // Brackets inside strings do not nest; then the deepest answers within the size cap.
    const std::string brackets = "\"[{" + std::string(2 * limit, '[');
    EXPECT_EQ(readOnWorker(R"({"text":"\)" + brackets + R"("})").text, brackets);
    ExpectFailure(readOnWorker(arrays(kMaxResponseBytes / 2, "")), "Invalid JSON from server");
    ExpectFailure(readOnWorker(std::string(kMaxResponseBytes, '[')), "Invalid JSON from server");
}

// UTF-16 units of UTF-8 `text` in the log pane, every LF made CR LF.
std::size_t PaneUnits(const std::string& text) {
    std::size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : byte == '\n' ? 2 : 1;
    }
    return units;
}

TEST_F(ServerClientTest, HugeAnswersAreShownAtMostAtWhatThePaneHolds) {
    // One insertion into the log pane holds at most this many UTF-16 units.
    constexpr std::size_t kPaneInsertionUnits = 3'000'000;
    const auto nested = [](std::size_t depth, const std::string& inner) {
        return std::string(depth, '[') + inner + std::string(depth, ']');
    };
    const auto zeros = [](std::size_t count) {
        std::string list = "0";
        for (std::size_t i = 1; i < count; ++i) list += ",0";
        return list;
    };
    const auto repeated = [](const std::string& piece, std::size_t bytes) {
        std::string text;
        while (text.size() < bytes) text += piece;
        return text;
    };
    const std::size_t manyZeros = (kMaxResponseBytes - 64) / 2;
    // Each answer, and one that serialises with the same beginning, at least twice
    // what the pane holds (the whole serialisation of the huge one would be 0.5 GB).
    std::vector<std::pair<std::string, std::string>> cases = {
        {nested(32, zeros(manyZeros)), nested(32, zeros(100'000))},
        {nested(1, zeros(manyZeros)), nested(1, zeros(2'000'000))},
        {R"({"a":)" + nested(30, "{}," + zeros(manyZeros - 3)) + "}", R"({"a":)" + nested(30, "{}," + zeros(100'000)) + "}"},
    };
    // Cuts that fall inside a two-, three- and four-byte character, at each offset.
    for (const std::string piece : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        for (std::size_t offset = 0; offset < piece.size(); ++offset) {
            const std::string body = "[\"" + std::string(offset, 'a') + repeated(piece, 2'000'000) + "\"]";
            cases.emplace_back(body, body);
        }
    }
    for (const auto& [body, sameStart] : cases) {
        SCOPED_TRACE("answer of " + std::to_string(body.size()) + " bytes: " + body.substr(0, 40));
        const Outcome outcome = PostAnsweredWith(200, body);
        ASSERT_TRUE(outcome.ok) << outcome.error;
        const std::string marker = kAnswerCutMarker;
        ASSERT_GT(outcome.text.size(), marker.size());
        const std::size_t kept = outcome.text.size() - marker.size();
        EXPECT_EQ(outcome.text.substr(kept), marker);
        EXPECT_LE(PaneUnits(outcome.text.substr(0, kept)), kPaneInsertionUnits);
        EXPECT_GT(kept, kPaneInsertionUnits / 4);
        const std::string whole = nlohmann::json::parse(sameStart).dump(2);
        EXPECT_EQ(whole.compare(0, kept, outcome.text, 0, kept), 0) << "not the serialisation's beginning";
        EXPECT_NO_THROW(static_cast<void>(nlohmann::json(outcome.text).dump())) << "not whole UTF-8";
    }
}

TEST_F(ServerClientTest, OtherStatusesFailWithTheirBody) {
    ExpectFailure(PostAnsweredWith(404, "not found"), "HTTP 404: not found");
    ExpectFailure(PostAnsweredWith(500, ""), "HTTP 500: ");
    ExpectFailure(PostAnsweredWith(201, R"({"text":"a"})"), R"(HTTP 201: {"text":"a"})");
    ExpectFailure(PostAnsweredWith(204, ""), "HTTP 204: ");
    const std::string binary = "\x00\xFF\r\n\x80 tail\x00"s;
    ExpectFailure(PostAnsweredWith(503, binary), "HTTP 503: " + binary);
}

TEST_F(ServerClientTest, RedirectIsNotFollowed) {
    Reply reply{302, "moved"};
    reply.headers.emplace_back("Location", "http://127.0.0.1:" + std::to_string(server_.Port()) + "/elsewhere");
    ExpectFailure(PostAnsweredWith(reply), "HTTP 302: moved");
    EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(ServerClientTest, OnlyTheInferencePathIsPosted) {
    server_.SetHandler([](const RecordedRequest& request) {
        return Reply{200, R"({"text":")" + request.target + "\"}"};
    });
    const Outcome outcome = Post();
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.text, "/inference");
}

TEST_F(ServerClientTest, RefusedConnectionFailsWithCurlsMessage) {
    LoopbackServer closed;
    PointAt(closed.Port());
    closed.Stop();
    ExpectFailure(Post(), curl_easy_strerror(CURLE_COULDNT_CONNECT));
}

TEST_F(ServerClientTest, UnusableHostFailsBeforeAnyRequest) {
    for (const char* host : {"my host", ""}) {
        SCOPED_TRACE(std::string("host: '") + host + "'");
        g_serverHost.Set(host);
        ExpectFailure(Post(), curl_easy_strerror(CURLE_URL_MALFORMAT));
    }
    EXPECT_EQ(server_.Requests().size(), 0u);
}

TEST_F(ServerClientTest, ConnectionCutMidAnswerFails) {
    Reply cut{200, R"({"text":"a long transcript that never arrives whole"})"};
    cut.cutAfter = ResponseHead(cut).size() + 10;
    ExpectFailure(PostAnsweredWith(cut), curl_easy_strerror(CURLE_PARTIAL_FILE));

    Reply silent{200, R"({"text":"a"})"};
    silent.cutAfter = 0;
    ExpectFailure(PostAnsweredWith(silent), curl_easy_strerror(CURLE_GOT_NOTHING));
}

TEST_F(ServerClientTest, AnswerUpToTheLimitIsKept) {
    const std::string body(kMaxResponseBytes, 'e');
    ExpectFailure(PostAnsweredWith(500, body), "HTTP 500: " + body);
}

TEST_F(ServerClientTest, AnswerBeyondTheLimitIsCutOff) {
    ExpectFailure(PostAnsweredWith(200, "\"" + std::string(kMaxResponseBytes - 1, 'a') + "\""),
                  kResponseTooLargeError);
    ExpectFailure(PostAnsweredWith(500, std::string(kMaxResponseBytes + 1, 'e')), kResponseTooLargeError);

    Reply endless{200, ""};
    endless.endless = true;
    ExpectFailure(PostAnsweredWith(endless), kResponseTooLargeError);
}

TEST(AppendResponseBody, CollectsPiecesUpToTheLimit) {
    ResponseBody response;
    char piece[] = "abc";
    EXPECT_EQ(AppendResponseBody(piece, 1, 3, &response), 3u);
    EXPECT_EQ(AppendResponseBody(piece, 3, 1, &response), 3u);
    EXPECT_EQ(AppendResponseBody(piece, 1, 0, &response), 0u);
    EXPECT_EQ(response.bytes, "abcabc");
    EXPECT_EQ(response.failure, nullptr);

    response.bytes.assign(kMaxResponseBytes - 2, 'x');
    EXPECT_EQ(AppendResponseBody(piece, 1, 2, &response), 2u);
    EXPECT_EQ(response.failure, nullptr);
    EXPECT_EQ(AppendResponseBody(piece, 1, 1, &response), 0u);
    EXPECT_STREQ(response.failure, kResponseTooLargeError);
    EXPECT_EQ(response.bytes.size(), kMaxResponseBytes);
}

TEST(AppendResponseBody, OverflowingSizeIsRefused) {
    ResponseBody response;
    char piece[] = "a";
    const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2 + 1;
    EXPECT_EQ(AppendResponseBody(piece, huge, 2, &response), 0u);
    EXPECT_STREQ(response.failure, kResponseTooLargeError);
    EXPECT_EQ(response.bytes, "");
}

TEST_F(ServerClientTest, ConcurrentUploadsEachGetTheirOwnAnswer) {
    server_.SetHandler([](const RecordedRequest& request) {
        if (request.parts.size() != 2) return Reply{400, "bad form"};
        return Reply{200, R"({"text":")" + request.parts[1].content + ":" +
                              std::to_string(request.parts[0].content.size()) + "\"}"};
    });
    constexpr int kUploads = 8;
    const char* const languages[] = {"auto", "en", "zh"};
    std::vector<Outcome> outcomes(kUploads);
    std::vector<std::thread> uploads;
    for (int i = 0; i < kUploads; ++i) {
        uploads.emplace_back([&outcomes, &languages, i] {
            outcomes[i] = Post(AwkwardMp3(1000 + i), languages[i % 3]);
        });
    }
    for (std::thread& upload : uploads) upload.join();
    for (int i = 0; i < kUploads; ++i) {
        EXPECT_TRUE(outcomes[i].ok) << outcomes[i].error;
        EXPECT_EQ(outcomes[i].text, std::string(languages[i % 3]) + ":" + std::to_string(1000 + i));
    }
    EXPECT_EQ(server_.Requests().size(), static_cast<std::size_t>(kUploads));
}

TEST_F(ServerClientTest, AnswerAfterTheTransferLimitIsGivenUp) {
    Reply late{200, R"({"text":"too late"})"};
    late.delay = 20s;
    const auto start = Clock::now();
    ExpectFailure(PostAnsweredWith(late), curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    EXPECT_GE(Clock::now() - start, 14900ms);
    EXPECT_EQ(server_.Requests().size(), 1u);
}

#ifdef __linux__
// A listener whose accept queue is full: Linux drops further connection attempts
// silently, so the client never gets a connection, nor a refusal.
TEST_F(ServerClientTest, UnansweredConnectAttemptIsGivenUpAfterTwoSeconds) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int queued = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    PointAt(ntohs(address.sin_port));

    const auto start = Clock::now();
    ExpectFailure(Post(), curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1900ms);
    EXPECT_LT(elapsed, 10s);  // the connect limit, not the transfer limit
    close(queued);
    close(listener);
}
#endif

}  // namespace
