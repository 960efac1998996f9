// Clients posting one MP3 chunk to a server the way the tool does: libcurl, a multipart
// form, one connection per upload, 2 s to connect and 15 s for the whole upload. All
// uploads run from the calling thread, which meanwhile reads the server's log.
#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

#include "server/bench/server_child.h"

namespace speech_server::bench {

struct UploadResult {
    double sent = 0;     // seconds since the run began
    double seconds = 0;  // until the answer or the failure
    long status = 0;     // HTTP status; 0 without an answer
    bool complete = false;  // the transfer ended without error
    bool gave_up = false;   // the 15 s limit passed
    double finished() const { return sent + seconds; }
};

class UploadClients {
public:
    UploadClients(LoadTarget& server, std::string mp3);
    ~UploadClients();
    UploadClients(const UploadClients&) = delete;
    UploadClients& operator=(const UploadClients&) = delete;

    // `clients` each posting every `period` seconds from starts spread over one period,
    // for `duration` seconds; returns when every upload has ended.
    std::vector<UploadResult> RunOpenLoop(int clients, double period, double duration);
    // `clients` each posting again as soon as the last upload ended, for `duration` seconds.
    std::vector<UploadResult> RunClosedLoop(int clients, double duration);
    // Seconds from the start of the last run to `time`.
    double SinceStart(Clock::time_point time) const;

private:
    struct Transfer {
        CURL* easy;
        curl_mime* form;
    };
    void Begin();
    void Start();
    // Waits for the server's log or a transfer until `until`; the count of uploads ended.
    int Pump(Clock::time_point until);

    LoadTarget& server_;
    const std::string mp3_;
    const std::string url_;
    CURLM* multi_;
    curl_slist* headers_;
    Clock::time_point start_;
    std::vector<UploadResult> results_;
    std::vector<Transfer> transfers_;  // by the index of the result
    int in_flight_ = 0;
};

}  // namespace speech_server::bench
