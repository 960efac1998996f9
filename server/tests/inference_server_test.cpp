#include <gtest/gtest.h>

#include <curl/curl.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/inference_server.h"
#include "server/tests/support/hostile_upload.h"
#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"

namespace speech_server {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

std::string GoForwardMp3() {
    const auto mp3 = testing::EncodeMp3(testing::GoForwardSamples(), 16000, 1);
    return {mp3.begin(), mp3.end()};
}

httplib::MultipartFormDataItems Upload(const std::string& mp3, const std::string& language) {
    return {{"file", mp3, "audio_16k_mono.mp3", "audio/mpeg"}, {"language", language, "", ""}};
}

// Checks an answer's status and that its body is a JSON object with an "error" string.
std::string ErrorOf(const httplib::Result& result, int status) {
    if (!result) return "no answer: " + httplib::to_string(result.error());
    EXPECT_EQ(result->status, status) << result->body;
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    const json body = json::parse(result->body, nullptr, false);
    if (!body.is_object() || !body.contains("error") || !body["error"].is_string()) return "bad body: " + result->body;
    EXPECT_EQ(body.size(), 1u) << result->body;
    return body["error"];
}

// A server on a free loopback port, serving on its own thread for one test.
class RunningServer {
public:
    RunningServer(RecognizerPool& pool, ServerSettings settings)
        : server_(std::move(settings), [this](const std::string& line) {
              std::lock_guard<std::mutex> lock(log_mutex_);
              log_.push_back(line);
          }) {
        std::string error;
        if (!server_.Bind("127.0.0.1", 0, error)) throw std::runtime_error(error);
        runner_ = std::async(std::launch::async, [this, &pool] { server_.Run(pool); });
    }
    ~RunningServer() {
        server_.Stop();
        runner_.wait();
    }
    httplib::Client Client() const {
        httplib::Client client("127.0.0.1", server_.port());
        client.set_read_timeout(30, 0);
        return client;
    }
    std::vector<std::string> Log() const {
        std::lock_guard<std::mutex> lock(log_mutex_);
        return log_;
    }
    InferenceServer& server() { return server_; }
    std::future<void>& runner() { return runner_; }

private:
    mutable std::mutex log_mutex_;
    std::vector<std::string> log_;
    InferenceServer server_;
    std::future<void> runner_;
};

class InferenceServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pool_ = new RecognizerPool(2, ModelPaths{});
        mp3_ = new std::string(GoForwardMp3());
    }
    static void TearDownTestSuite() {
        delete pool_;
        delete mp3_;
    }
    static RecognizerPool* pool_;
    static std::string* mp3_;
};
RecognizerPool* InferenceServerTest::pool_ = nullptr;
std::string* InferenceServerTest::mp3_ = nullptr;

TEST_F(InferenceServerTest, AnswersHealthChecks) {
    RunningServer running(*pool_, {});
    auto result = running.Client().Get("/health");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(json::parse(result->body), json({{"status", "ok"}}));
}

TEST_F(InferenceServerTest, TranscribesEnglishAndAuto) {
    RunningServer running(*pool_, {});
    for (const char* language : {"en", "auto"}) {
        auto result = running.Client().Post("/inference", Upload(*mp3_, language));
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(result->status, 200) << result->body;
        EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
        EXPECT_EQ(json::parse(result->body), json({{"text", testing::kGoForwardText}}));
    }
}

size_t CollectBody(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// The upload exactly as the tool sends it: libcurl's MIME form, no "Expect" handshake.
TEST_F(InferenceServerTest, TranscribesTheToolsOwnUpload) {
    RunningServer running(*pool_, {});
    CURL* curl = curl_easy_init();
    ASSERT_NE(curl, nullptr);
    curl_mime* form = curl_mime_init(curl);
    curl_mimepart* file = curl_mime_addpart(form);
    curl_mime_name(file, "file");
    curl_mime_filename(file, "audio_16k_mono.mp3");
    curl_mime_data(file, mp3_->data(), mp3_->size());
    curl_mime_type(file, "audio/mpeg");
    curl_mimepart* language = curl_mime_addpart(form);
    curl_mime_name(language, "language");
    curl_mime_data(language, "en", CURL_ZERO_TERMINATED);
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    std::string body;
    const std::string url = "http://127.0.0.1:" + std::to_string(running.server().port()) + "/inference";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 15000L);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_mime_free(form);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    ASSERT_EQ(code, CURLE_OK) << curl_easy_strerror(code);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(json::parse(body), json({{"text", testing::kGoForwardText}}));
}

TEST_F(InferenceServerTest, RefusesChineseInsteadOfGuessingEnglish) {
    RunningServer running(*pool_, {});
    const std::string error = ErrorOf(running.Client().Post("/inference", Upload(*mp3_, "zh")), 422);
    EXPECT_NE(error.find("language \"zh\" is not supported"), std::string::npos) << error;
}

TEST_F(InferenceServerTest, RefusesBadUploadsAndKeepsServing) {
    ServerSettings settings;
    settings.limits.max_body_bytes = 64 * 1024;
    RunningServer running(*pool_, settings);
    auto client = running.Client();

    EXPECT_EQ(ErrorOf(client.Post("/inference", httplib::MultipartFormDataItems{{"language", "en", "", ""}}), 400),
              "missing form part \"file\" with the MP3 audio");
    EXPECT_EQ(ErrorOf(client.Post("/inference", Upload("", "en")), 400), "form part \"file\" is empty");
    EXPECT_EQ(ErrorOf(client.Post("/inference", Upload(std::string(5000, 'x'), "en")), 415),
              "form part \"file\" is not MP3 audio (no MPEG audio frames found)");
    EXPECT_EQ(ErrorOf(client.Post("/inference", Upload(std::string(100 * 1024, 'x'), "en")), 413),
              "upload larger than 65536 bytes");
    EXPECT_EQ(ErrorOf(client.Post("/inference", *mp3_, "audio/mpeg"), 415),
              "expected a multipart/form-data body with the parts \"file\" and \"language\"");
    EXPECT_EQ(ErrorOf(client.Post("/inference", std::string(100 * 1024, 'x'), "audio/mpeg"), 413),
              "upload larger than 65536 bytes");
    EXPECT_EQ(ErrorOf(client.Post("/inference", "--b\r\nnot a part header", "multipart/form-data; boundary=b"), 400),
              "malformed multipart/form-data body");
    EXPECT_EQ(ErrorOf(client.Post("/inference", "", "multipart/form-data"), 400), "malformed multipart/form-data body");

    auto result = client.Post("/inference", Upload(*mp3_, "en"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(json::parse(result->body), json({{"text", testing::kGoForwardText}}));
}

// A chunked body announces no length, so only the server's own count can stop it.
httplib::Result PostChunked(httplib::Client& client, const std::string& body, const std::string& content_type) {
    return client.Post(
        "/inference",
        [&body](std::size_t offset, httplib::DataSink& sink) {
            const std::size_t piece = std::min<std::size_t>(8192, body.size() - offset);
            if (piece > 0) sink.write(body.data() + offset, piece);
            if (offset + piece == body.size()) sink.done();
            return true;
        },
        content_type);
}

TEST_F(InferenceServerTest, CountsChunkedUploadsAgainstTheLimit) {
    ServerSettings settings;
    settings.limits.max_body_bytes = 64 * 1024;
    RunningServer running(*pool_, settings);
    auto client = running.Client();

    const std::string form_head =
        "--XyZ\r\nContent-Disposition: form-data; name=\"language\"\r\n\r\nen\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.mp3\"\r\n"
        "Content-Type: audio/mpeg\r\n\r\n";
    const std::string form_tail = "\r\n--XyZ--\r\n";
    const std::string multipart = "multipart/form-data; boundary=XyZ";
    EXPECT_EQ(ErrorOf(PostChunked(client, form_head + std::string(200 * 1024, 'x') + form_tail, multipart), 413),
              "upload larger than 65536 bytes");
    EXPECT_EQ(ErrorOf(PostChunked(client, std::string(200 * 1024, 'x'), "audio/mpeg"), 413),
              "upload larger than 65536 bytes");

    auto result = PostChunked(client, form_head + *mp3_ + form_tail, multipart);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, 200) << result->body;
    EXPECT_EQ(json::parse(result->body, nullptr, false), json({{"text", testing::kGoForwardText}}));
}

TEST_F(InferenceServerTest, AnswersUnknownPathsAndWrongMethodsInJson) {
    RunningServer running(*pool_, {});
    auto client = running.Client();
    EXPECT_EQ(ErrorOf(client.Get("/nowhere"), 404),
              "no such endpoint: GET /nowhere (use POST /inference or GET /health)");
    EXPECT_EQ(ErrorOf(client.Post("/", "x", "text/plain"), 404),
              "no such endpoint: POST / (use POST /inference or GET /health)");

    auto get_inference = client.Get("/inference");
    EXPECT_EQ(ErrorOf(get_inference, 405), "method not allowed: GET /inference (allowed: POST)");
    ASSERT_TRUE(get_inference);
    EXPECT_EQ(get_inference->get_header_value("Allow"), "POST");
    EXPECT_EQ(ErrorOf(client.Post("/health", "", "text/plain"), 405),
              "method not allowed: POST /health (allowed: GET, HEAD)");
    EXPECT_EQ(ErrorOf(client.Delete("/inference"), 405), "method not allowed: DELETE /inference (allowed: POST)");
}

// Sends raw bytes and returns everything the server writes back before closing.
std::string RawExchange(int port, const std::string& request) {
    const int sock = testing::ConnectTo(port);
    std::string answer;
    if (sock >= 0 && send(sock, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t count; (count = recv(sock, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, count);
    }
    close(sock);
    return answer;
}

TEST_F(InferenceServerTest, AnswersMalformedRequestsInJsonAndKeepsServing) {
    RunningServer running(*pool_, {});
    const int port = running.server().port();
    for (const std::string request : {"NONSENSE\r\n\r\n", "BREW /inference HTTP/1.1\r\n\r\n"}) {
        const std::string answer = RawExchange(port, request);
        EXPECT_EQ(answer.rfind("HTTP/1.1 400 ", 0), 0u) << answer;
        EXPECT_NE(answer.find("\r\n\r\n{\"error\":\"request rejected (HTTP 400)\"}"), std::string::npos) << answer;
    }
    auto result = running.Client().Get("/health");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
}

// However it is framed, a body that does not end is refused once the server has read
// a bounded amount of it (far less than the client sends), and the server goes on serving.
TEST_F(InferenceServerTest, RefusesEndlessUploadsEarly) {
    ServerSettings settings;
    settings.limits.max_body_bytes = 1024 * 1024;
    settings.answer_budget = 2s;
    settings.max_pause = 500ms;
    RunningServer running(*pool_, settings);
    for (const testing::HostileUpload& upload : testing::EndlessUploads()) {
        const testing::HostileOutcome outcome = testing::SendUntilAnswered(running.server().port(), upload, 256 * 1024 * 1024);
        const std::string status_line = "HTTP/1.1 " + std::to_string(upload.status) + " ";
        EXPECT_EQ(outcome.answer.rfind(status_line, 0), 0u) << upload.name << ": " << outcome.answer;
        EXPECT_NE(outcome.answer.find("\r\n\r\n{\"error\":\""), std::string::npos) << upload.name;
        // What the server read, plus what the sockets hold and the drain after the answer.
        EXPECT_LT(outcome.sent, 32u * 1024 * 1024) << upload.name;
    }
    auto result = running.Client().Post("/inference", Upload(*mp3_, "en"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200) << result->body;
}

TEST_F(InferenceServerTest, AnswersOverlappingUploadsTogether) {
    RunningServer running(*pool_, {});
    std::vector<std::future<std::pair<int, std::string>>> answers;
    for (int i = 0; i < 5; ++i) {
        answers.push_back(std::async(std::launch::async, [&] {
            auto result = running.Client().Post("/inference", Upload(*mp3_, "en"));
            return result ? std::make_pair(result->status, result->body)
                          : std::make_pair(-1, httplib::to_string(result.error()));
        }));
    }
    for (auto& answer : answers) {
        const auto [status, body] = answer.get();
        EXPECT_EQ(status, 200) << body;
        EXPECT_EQ(json::parse(body, nullptr, false), json({{"text", testing::kGoForwardText}}));
    }
}

TEST_F(InferenceServerTest, RefusesWith503WhenNoRecognizerComesFreeInTime) {
    ServerSettings settings;
    settings.answer_budget = 200ms;  // less than recognising the upload could take
    RunningServer running(*pool_, settings);
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    auto refused = running.Client().Post("/inference", Upload(*mp3_, "en"));
    EXPECT_EQ(ErrorOf(refused, 503),
              "server busy: all 2 recognisers are taken and this upload could not be answered within 0.2 s; "
              "try again later");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->get_header_value("Retry-After"), "5");

    held_a.reset();  // a free recogniser is taken however small the budget
    auto answered = running.Client().Post("/inference", Upload(*mp3_, "en"));
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->status, 200) << answered->body;
}

// Behind uploads that already take the recognisers past the answer budget, an upload
// is refused as soon as its head has come: it announces a body that it never sends.
TEST_F(InferenceServerTest, RefusesBeforeTheBodyWhenTheUploadsAheadTakeTheBudget) {
    ServerSettings settings;
    settings.answer_budget = 4s;  // until measured an upload takes 3.5 s: one per worker fits
    RunningServer running(*pool_, settings);
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    std::vector<std::future<httplib::Result>> ahead;
    for (int i = 0; i < 2; ++i)
        ahead.push_back(std::async(std::launch::async, [&] { return running.Client().Post("/inference", Upload(*mp3_, "en")); }));
    while (pool_->waiting() < 2) std::this_thread::sleep_for(1ms);
    const std::string head =
        "POST /inference HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
        "Content-Length: 100000\r\n\r\n";
    const testing::HostileOutcome refused =
        testing::SendUntilAnswered(running.server().port(), {"head only", head, "", 0ms, 503}, 1);
    EXPECT_EQ(refused.answer.rfind("HTTP/1.1 503 ", 0), 0u) << refused.answer;
    EXPECT_NE(refused.answer.find("Retry-After: 5\r\n"), std::string::npos) << refused.answer;
    held_a.reset();
    held_b.reset();
    for (auto& upload : ahead) upload.wait();
}

// An upload whose client has gone while it waited for a recogniser is not recognised.
TEST_F(InferenceServerTest, SkipsTheRecognitionOfAClientThatHasGone) {
    RunningServer running(*pool_, {});
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.mp3\"\r\n\r\n" +
                             *mp3_ + "\r\n--XyZ--\r\n";
    const std::string request = "POST /inference HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Content-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    const int sock = testing::ConnectTo(running.server().port());
    ASSERT_EQ(send(sock, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    while (pool_->waiting() == 0) std::this_thread::sleep_for(1ms);
    close(sock);
    held_a.reset();
    running.server().Stop();
    running.runner().wait();
    const auto log = running.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("POST /inference 499 ", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("client gone, recognition skipped"), std::string::npos) << log[0];
}

TEST_F(InferenceServerTest, LogsOneLinePerRequest) {
    RunningServer running(*pool_, {});
    auto client = running.Client();
    ASSERT_TRUE(client.Get("/health"));
    ASSERT_TRUE(client.Post("/inference", Upload(*mp3_, "en")));
    ASSERT_TRUE(client.Post("/inference", Upload(*mp3_, "zh")));
    ASSERT_TRUE(client.Get("/missing"));
    ASSERT_TRUE(client.Get("/a%0Afake%0Dline"));
    RawExchange(running.server().port(), "BR\x1b[2JEW / HTTP/1.1\r\n\r\n");  // rejected, but logged
    // A line is logged just after its answer is sent; once Run has returned, all are.
    running.server().Stop();
    running.runner().wait();
    const auto log = running.Log();
    ASSERT_EQ(log.size(), 6u);
    // Each connection has its own thread, so lines may come in any order.
    auto line_starting = [&log](const std::string& start) {
        for (const auto& line : log)
            if (line.rfind(start, 0) == 0) return line;
        return "no line starts with " + start;
    };
    EXPECT_NE(line_starting("GET /health 200 ").find(" ms"), std::string::npos);
    const std::string recognised = line_starting("POST /inference 200 ");
    EXPECT_NE(recognised.find(" ms language=en audio=2."), std::string::npos) << recognised;
    EXPECT_NE(recognised.find(" rtf="), std::string::npos) << recognised;
    EXPECT_NE(line_starting("POST /inference 422 ").find(" ms"), std::string::npos);
    EXPECT_NE(line_starting("GET /missing 404 ").find(" ms"), std::string::npos);
    EXPECT_NE(line_starting("GET /a?fake?line 404 ").find(" ms"), std::string::npos);
    EXPECT_NE(line_starting("BR?[2JEW ").find(" 400 "), std::string::npos);
}

TEST_F(InferenceServerTest, FinishesARequestInProgressWhenStopped) {
    RunningServer running(*pool_, {});
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    auto answer = std::async(std::launch::async, [&] { return running.Client().Post("/inference", Upload(*mp3_, "en")); });
    while (pool_->waiting() == 0) std::this_thread::sleep_for(1ms);  // the request waits for a recogniser
    running.server().Stop();
    EXPECT_EQ(running.Client().Get("/health").error(), httplib::Error::Connection) << "no longer listening";
    held_a.reset();
    auto result = answer.get();
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(running.runner().wait_for(10s), std::future_status::ready);
}

TEST_F(InferenceServerTest, StopBeforeRunEndsRunAtOnce) {
    InferenceServer server({}, [](const std::string&) {});
    std::string error;
    ASSERT_TRUE(server.Bind("127.0.0.1", 0, error)) << error;
    server.Stop();
    auto run = std::async(std::launch::async, [&] { server.Run(*pool_); });
    EXPECT_EQ(run.wait_for(10s), std::future_status::ready);
}

TEST_F(InferenceServerTest, RefusesAPortThatIsTaken) {
    RunningServer first(*pool_, {});
    InferenceServer second({}, [](const std::string&) {});
    std::string error;
    EXPECT_FALSE(second.Bind("127.0.0.1", first.server().port(), error));
    EXPECT_EQ(error, "cannot listen on 127.0.0.1:" + std::to_string(first.server().port()) +
                         ": Address already in use");
    auto result = first.Client().Get("/health");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
}

}  // namespace
}  // namespace speech_server
