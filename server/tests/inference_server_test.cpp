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

#include "server/http/inference_server.h"
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
    EXPECT_EQ(ErrorOf(PostChunked(client, std::string(200 * 1024, 'x'), "audio/mpeg"), 415),
              "expected a multipart/form-data body with the parts \"file\" and \"language\"");

    auto result = PostChunked(client, form_head + *mp3_ + form_tail, multipart);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, 200) << result->body;
    EXPECT_EQ(json::parse(result->body, nullptr, false), json({{"text", testing::kGoForwardText}}));
}

std::string RawExchange(int port, const std::string& request) { return testing::Exchange(port, {{0ms, request}}); }

// The status and the body of a raw answer, after any interim 100 Continue.
std::pair<int, std::string> StatusAndBody(std::string answer) {
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    while (answer.rfind(interim, 0) == 0) answer.erase(0, interim.size());
    if (answer.rfind("HTTP/1.1 ", 0) != 0) return {-1, answer};
    const std::size_t body = answer.find("\r\n\r\n");
    return {std::atoi(answer.c_str() + 9), body == std::string::npos ? "" : answer.substr(body + 4)};
}

std::string Form(const std::string& parts) {
    return "POST /inference HTTP/1.1\r\nHost: h\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
           "Content-Length: " + std::to_string(parts.size() + 9) + "\r\n\r\n" + parts + "--XyZ--\r\n";
}

std::string Part(const std::string& name, const std::string& content) {
    return "--XyZ\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + content + "\r\n";
}

// Every row of the README's status table but 500 and 503 (their own tests below), each
// on its own connection at once; the answers' bodies are checked by their start.
TEST_F(InferenceServerTest, AnswersEveryStatusOfTheTable) {
    ServerSettings settings;
    settings.limits.max_body_bytes = 64 * 1024;
    settings.head_time = 1s;
    settings.answer_budget = 30s;  // room to admit every upload of the table at once
    settings.max_pause = 1s;
    RunningServer running(*pool_, settings);
    const std::string post = "POST /inference HTTP/1.1\r\nHost: h\r\n";
    const std::string multipart = "Content-Type: multipart/form-data; boundary=XyZ\r\n";
    const struct {
        std::vector<testing::Piece> request;
        bool half_close;
        int status;
        std::string body;
    } rows[] = {
        {{{0ms, "GET /health HTTP/1.1\r\n\r\n"}}, false, 200, "{\"status\":\"ok\"}"},
        {{{0ms, "HEAD /health HTTP/1.1\r\n\r\n"}}, false, 200, ""},
        {{{0ms, Form(Part("file", *mp3_) + Part("language", "en"))}}, true, 200, "{\"text\":\"go forward"},
        {{{0ms, Form(Part("language", "en"))}}, false, 400, "{\"error\":\"missing form part \\\"file\\\""},
        {{{0ms, Form(Part("file", "x") + Part("file", "y"))}}, false, 400, "{\"error\":\"more than one form part"},
        {{{0ms, Form("--XyZjunk")}}, false, 400, "{\"error\":\"malformed multipart/form-data body"},
        {{{0ms, "NONSENSE\r\n\r\n"}}, false, 400, "{\"error\":\"malformed HTTP request: "},
        {{{0ms, "GET /nowhere HTTP/1.1\r\n\r\n"}}, false, 404, "{\"error\":\"no such endpoint: GET /nowhere"},
        {{{0ms, "GET /inference HTTP/1.1\r\n\r\n"}}, false, 405, "{\"error\":\"method not allowed: GET /inference"},
        {{{0ms, "DELETE /health HTTP/1.1\r\n\r\n"}}, false, 405, "{\"error\":\"method not allowed: DELETE /health"},
        {{{0ms, "GET /health HTTP/1.1\r\n"}}, false, 408, "{\"error\":\"request head not received within 1 s"},
        {{{0ms, post + multipart + "Content-Length: 10\r\n\r\n"}}, false, 408, "{\"error\":\"request not received"},
        {{{0ms, post + multipart + "\r\n"}}, false, 411, "{\"error\":\"length required"},
        {{{0ms, post + multipart + "Content-Length: 65537\r\n\r\n"}}, false, 413, "{\"error\":\"upload larger than"},
        {{{0ms, post + "Content-Type: audio/mpeg\r\nContent-Length: 3\r\n\r\nabc"}}, false, 415,
         "{\"error\":\"expected a multipart/form-data body"},
        {{{0ms, post + multipart + "Content-Encoding: br\r\nContent-Length: 3\r\n\r\nabc"}}, false, 415,
         "{\"error\":\"Content-Encoding \\\"br\\\" is not accepted"},
        {{{0ms, Form(Part("file", std::string(5000, 'x')))}}, false, 415, "{\"error\":\"form part \\\"file\\\" is not MP3"},
        {{{0ms, Form(Part("file", *mp3_) + Part("language", "zh"))}}, false, 422, "{\"error\":\"language \\\"zh\\\""},
        {{{0ms, "GET /health HTTP/1.1\r\nX: " + std::string(64 * 1024, 'h') + "\r\n\r\n"}}, false, 431,
         "{\"error\":\"request head larger than 65536 bytes"},
        {{{0ms, post + multipart + "Transfer-Encoding: gzip, chunked\r\n\r\n"}}, false, 501,
         "{\"error\":\"Transfer-Encoding \\\"gzip, chunked\\\" is not supported"},
    };
    std::vector<std::future<std::string>> answers;
    for (const auto& row : rows)
        answers.push_back(std::async(std::launch::async, [&] {
            return testing::Exchange(running.server().port(), row.request, row.half_close);
        }));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto [status, body] = StatusAndBody(answers[i].get());
        EXPECT_EQ(status, rows[i].status) << "row " << i << ": " << body;
        EXPECT_EQ(body.rfind(rows[i].body, 0), 0u) << "row " << i << ": " << body;
    }
}

// Each limit of the defaults, at its bound and just past it: the head within 2 s of
// the accept, no pause over 5 s, a body of 16 MiB, however framed.
TEST_F(InferenceServerTest, HoldsEachDefaultLimitToItsBound) {
    RunningServer running(*pool_, {});
    const std::string post = "POST /inference HTTP/1.1\r\nHost: h\r\n";
    const std::string multipart = "Content-Type: multipart/form-data; boundary=XyZ\r\n";
    const std::size_t limit = UploadLimits{}.max_body_bytes;
    // A body of `size` bytes whose file part is not MP3: whole, it is answered 415.
    auto file_body = [&](std::size_t size) {
        const std::string head = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n";
        const std::string tail = "\r\n--XyZ--\r\n";
        return head + std::string(size - head.size() - tail.size(), 'x') + tail;
    };
    auto chunked = [&](const std::string& body) {
        return post + multipart + "Transfer-Encoding: chunked\r\n\r\n" + testing::Chunk(body) + "0\r\n\r\n";
    };
    auto with_length = [&](const std::string& body) {
        return post + multipart + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const std::string no_file = Part("language", "en") + "--XyZ--\r\n";
    const std::string paused = post + multipart + "Content-Length: " + std::to_string(no_file.size()) + "\r\n\r\n";
    const struct {
        const char* name;
        std::vector<testing::Piece> request;
        int status;
    } rows[] = {
        {"head after 1.6 s", {{0ms, "GET /nowhere HTTP/1.1\r\n"}, {1600ms, "\r\n"}}, 404},
        {"head after 2.4 s", {{0ms, "GET /nowhere HTTP/1.1\r\n"}, {2400ms, "\r\n"}}, 408},
        {"a pause of 4.6 s", {{0ms, paused}, {4600ms, no_file}}, 400},
        {"a pause of 5.4 s", {{0ms, paused}, {5400ms, no_file}}, 408},
        {"16 MiB by length", {{0ms, with_length(file_body(limit))}}, 415},
        {"16 MiB + 1 by length", {{0ms, with_length(file_body(limit + 1))}}, 413},
        {"16 MiB chunked", {{0ms, chunked(file_body(limit))}}, 415},
        {"16 MiB + 1 chunked", {{0ms, chunked(file_body(limit + 1))}}, 413},
    };
    std::vector<std::future<std::string>> answers;
    for (const auto& row : rows)
        answers.push_back(std::async(std::launch::async, [&] { return testing::Exchange(running.server().port(), row.request); }));
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(StatusAndBody(answers[i].get()).first, rows[i].status) << rows[i].name;
}

// 64 connections are served at once, 64 more are refused at once (a health check still
// passes), and any further one is closed unanswered and counted in the log.
TEST_F(InferenceServerTest, BoundsTheConnectionsItServesAndRefuses) {
    RunningServer running(*pool_, {});
    const int port = running.server().port();
    std::vector<int> silent;
    auto open_silent = [&](std::size_t count) {
        while (count-- > 0) silent.push_back(testing::ConnectTo(port));
        std::this_thread::sleep_for(50ms);  // accepted before the next
    };
    const std::string nowhere = "GET /nowhere HTTP/1.1\r\n\r\n";
    open_silent(63);
    EXPECT_EQ(StatusAndBody(RawExchange(port, nowhere)).first, 404) << "the 64th is served";
    open_silent(1);
    const auto [status, body] = StatusAndBody(RawExchange(port, nowhere));
    EXPECT_EQ(status, 503);
    EXPECT_EQ(body, "{\"error\":\"server busy: 64 connections are open, the most it serves at once; try again later\"}");
    EXPECT_EQ(StatusAndBody(RawExchange(port, "GET /health HTTP/1.1\r\n\r\n")).first, 200);
    open_silent(63);
    EXPECT_EQ(StatusAndBody(RawExchange(port, nowhere)).first, 503) << "the 64th refused is answered";
    open_silent(1);
    EXPECT_EQ(RawExchange(port, nowhere), "") << "closed unanswered";
    for (int sock : silent) close(sock);
    std::this_thread::sleep_for(1200ms);
    const auto log = running.Log();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "closed 1 connection unanswered: 64 served and 64 refused at once were already open"),
              log.end());
}

// Clients that send their heads a byte at a time hold no thread: the tool's upload
// beside 32 of them is answered.
TEST_F(InferenceServerTest, AnswersUploadsBesideClientsThatDribbleTheirHeads) {
    RunningServer running(*pool_, {});
    std::vector<std::future<std::string>> dribblers;
    const std::string head = "GET /health HTTP/1.1\r\n\r\n";
    for (int i = 0; i < 32; ++i)
        dribblers.push_back(std::async(std::launch::async, [&] {
            std::vector<testing::Piece> bytes;
            for (char c : head) bytes.push_back({300ms, std::string(1, c)});
            return testing::Exchange(running.server().port(), bytes);
        }));
    std::this_thread::sleep_for(500ms);
    auto result = running.Client().Post("/inference", Upload(*mp3_, "en"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200) << result->body;
    for (auto& dribbler : dribblers) EXPECT_EQ(StatusAndBody(dribbler.get()).first, 408);
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
    close(sock);  // as libcurl does when it gives up
    std::this_thread::sleep_for(200ms);  // for the server to see it
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
    RawExchange(running.server().port(), "GET /a\xff\xfe HTTP/1.1\r\n\r\n");
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
    EXPECT_NE(line_starting("GET /a?? 404 ").find(" ms"), std::string::npos);
    EXPECT_NE(line_starting("- - 400 ").find(" ms"), std::string::npos);
}

TEST_F(InferenceServerTest, FinishesARequestInProgressWhenStopped) {
    RunningServer running(*pool_, {});
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    auto answer = std::async(std::launch::async, [&] { return running.Client().Post("/inference", Upload(*mp3_, "en")); });
    while (pool_->waiting() == 0) std::this_thread::sleep_for(1ms);  // the request waits for a recogniser
    running.server().Stop();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(running.Client().Get("/health").error(), httplib::Error::Connection) << "no longer listening";
    held_a.reset();
    auto result = answer.get();
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(running.runner().wait_for(10s), std::future_status::ready);
}

// At the first stop an upload still queued hears 503 at once; those a worker has taken
// are recognised and answered.
TEST_F(InferenceServerTest, AnswersQueuedUploadsAtTheStopAndFinishesThoseTaken) {
    RunningServer running(*pool_, {});
    auto held_a = pool_->Acquire(1s);
    auto held_b = pool_->Acquire(1s);
    ASSERT_TRUE(held_a && held_b);
    std::vector<std::future<std::pair<int, std::string>>> answers;
    for (int i = 0; i < 3; ++i) {
        answers.push_back(std::async(std::launch::async, [&] {
            auto result = running.Client().Post("/inference", Upload(*mp3_, "en"));
            return result ? std::make_pair(result->status, result->body) : std::make_pair(-1, std::string());
        }));
        if (i < 2) while (pool_->waiting() <= static_cast<std::size_t>(i)) std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(300ms);  // the third is queued behind the two taken
    running.server().Stop();
    const auto stopping = answers[2].get();
    EXPECT_EQ(stopping.first, 503);
    EXPECT_EQ(json::parse(stopping.second, nullptr, false),
              json({{"error", "server stopping: this upload was not recognised; try another server"}}));
    held_a.reset();
    held_b.reset();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(answers[i].get().first, 200);
}

// The first stop waits for no silent connection: only for the recognitions in progress.
TEST_F(InferenceServerTest, StopsAtOnceWithSilentConnectionsOpen) {
    RunningServer running(*pool_, {});
    std::vector<int> silent;
    for (int i = 0; i < 64; ++i) silent.push_back(testing::ConnectTo(running.server().port()));
    std::this_thread::sleep_for(100ms);
    running.server().Stop();
    EXPECT_EQ(running.runner().wait_for(500ms), std::future_status::ready);
    for (int sock : silent) close(sock);
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
