#include "server/bench/upload_clients.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace speech_server::bench {
namespace {

constexpr long kConnectTimeoutMs = 2000;
constexpr long kTransferTimeoutMs = 15000;

std::size_t DiscardAnswer(char*, std::size_t size, std::size_t count, void*) { return size * count; }

}  // namespace

UploadClients::UploadClients(LoadTarget& server, std::string mp3)
    : server_(server),
      mp3_(std::move(mp3)),
      url_("http://127.0.0.1:" + std::to_string(server.port()) + "/inference"),
      multi_(curl_multi_init()),
      // Without this libcurl sends "Expect: 100-continue" and holds the body back.
      headers_(curl_slist_append(nullptr, "Expect:")) {
    if (multi_ == nullptr || headers_ == nullptr) throw std::runtime_error("libcurl failed to start");
}

UploadClients::~UploadClients() {
    for (const Transfer& transfer : transfers_) {
        if (transfer.easy == nullptr) continue;
        curl_multi_remove_handle(multi_, transfer.easy);
        curl_easy_cleanup(transfer.easy);
        curl_mime_free(transfer.form);
    }
    curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
}

double UploadClients::SinceStart(Clock::time_point time) const {
    return std::chrono::duration<double>(time - start_).count();
}

void UploadClients::Begin() {
    results_.clear();
    start_ = Clock::now();
}

void UploadClients::Start() {
    CURL* easy = curl_easy_init();
    curl_mime* form = curl_mime_init(easy);
    curl_mimepart* file = curl_mime_addpart(form);
    curl_mime_name(file, "file");
    curl_mime_filename(file, "audio_16k_mono.mp3");
    curl_mime_data(file, mp3_.data(), mp3_.size());
    curl_mime_type(file, "audio/mpeg");
    curl_mimepart* language = curl_mime_addpart(form);
    curl_mime_name(language, "language");
    curl_mime_data(language, "en", CURL_ZERO_TERMINATED);

    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &DiscardAnswer);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<void*>(static_cast<std::uintptr_t>(results_.size())));
    UploadResult result;
    result.sent = SinceStart(Clock::now());
    results_.push_back(result);
    transfers_.push_back({easy, form});
    curl_multi_add_handle(multi_, easy);
    ++in_flight_;
}

int UploadClients::Pump(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    std::vector<curl_waitfd> logs;
    for (int fd : server_.log_fds()) logs.push_back({fd, CURL_WAIT_POLLIN, 0});
    curl_multi_poll(multi_, logs.data(), static_cast<unsigned>(logs.size()),
                    static_cast<int>(std::clamp<long long>(left, 0, 1000)), nullptr);
    server_.ReadLog(0);
    int running = 0;
    curl_multi_perform(multi_, &running);
    int ended = 0;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        void* index = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &index);
        UploadResult& result = results_[reinterpret_cast<std::uintptr_t>(index)];
        result.seconds = SinceStart(Clock::now()) - result.sent;
        result.complete = message->data.result == CURLE_OK;
        result.gave_up = message->data.result == CURLE_OPERATION_TIMEDOUT;
        // A refusal sent before the whole body was read may end the transfer with a send
        // error, yet its status arrived.
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.status);
        Transfer& transfer = transfers_[reinterpret_cast<std::uintptr_t>(index)];
        curl_multi_remove_handle(multi_, easy);
        curl_easy_cleanup(easy);
        curl_mime_free(transfer.form);
        transfer = {nullptr, nullptr};
        --in_flight_;
        ++ended;
    }
    return ended;
}

std::vector<UploadResult> UploadClients::RunOpenLoop(int clients, double period, double duration) {
    std::vector<double> due;
    for (int client = 0; client < clients; ++client)
        for (double at = period * client / clients; at < duration; at += period) due.push_back(at);
    std::sort(due.begin(), due.end());
    Begin();
    for (std::size_t next = 0; next < due.size() || in_flight_ > 0;) {
        if (next < due.size() && SinceStart(Clock::now()) >= due[next]) {
            Start();
            ++next;
            continue;
        }
        const auto wake = next < due.size() ? start_ + std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(due[next]))
                                            : Clock::now() + std::chrono::seconds(1);
        Pump(wake);
    }
    transfers_.clear();
    return results_;
}

std::vector<UploadResult> UploadClients::RunClosedLoop(int clients, double duration) {
    Begin();
    for (int client = 0; client < clients; ++client) Start();
    while (in_flight_ > 0) {
        const int ended = Pump(Clock::now() + std::chrono::seconds(1));
        for (int i = 0; i < ended && SinceStart(Clock::now()) < duration; ++i) Start();
    }
    transfers_.clear();
    return results_;
}

}  // namespace speech_server::bench
