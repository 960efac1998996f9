#include "transcribe/server_client.h"

#include <curl/curl.h>

#include <limits>
#include <memory>

#include "core/settings.h"
#include "transcribe/server_answer.h"

namespace {

constexpr long kConnectTimeoutMs = 2000;
constexpr long kTransferTimeoutMs = 15000;

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MimeDeleter {
    void operator()(curl_mime* form) const { curl_mime_free(form); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::size_t AppendResponseBody(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto& response = *static_cast<ResponseBody*>(userdata);
    const bool overflows = count != 0 && size > std::numeric_limits<std::size_t>::max() / count;
    const std::size_t length = overflows ? 0 : size * count;
    if (overflows || length > kMaxResponseBytes - response.bytes.size()) {
        response.failure = kResponseTooLargeError;
        return 0;
    }
    try {
        response.bytes.append(data, length);
    } catch (...) {
        response.failure = kResponseOutOfMemoryError;
        return 0;
    }
    return length;
}

bool PostChunk(const std::vector<std::uint8_t>& mp3, const std::string& language, std::string& text,
               std::string& error) {
    text.clear();
    error.clear();

    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (!handle) {
        error = "curl_easy_init failed";
        return false;
    }

    std::unique_ptr<curl_mime, MimeDeleter> form(curl_mime_init(handle.get()));
    curl_mimepart* filePart = curl_mime_addpart(form.get());
    curl_mime_name(filePart, "file");
    curl_mime_filename(filePart, "audio_16k_mono.mp3");
    curl_mime_data(filePart, reinterpret_cast<const char*>(mp3.data()), mp3.size());
    curl_mime_type(filePart, "audio/mpeg");
    curl_mimepart* languagePart = curl_mime_addpart(form.get());
    curl_mime_name(languagePart, "language");
    curl_mime_data(languagePart, language.c_str(), CURL_ZERO_TERMINATED);

    // Without this libcurl sends "Expect: 100-continue" and holds the body back.
    std::unique_ptr<curl_slist, SlistDeleter> headers(curl_slist_append(nullptr, "Expect:"));

    ResponseBody response;
    const std::string url = BuildServerUrl();

    CURL* const easy = handle.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_MIMEPOST, form.get());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &AppendResponseBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
    // Uploads run on many threads at once: no SIGALRM-based time-outs in a synchronous
    // resolver, and no signal handlers touched behind the application's back.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);

    const CURLcode result = curl_easy_perform(easy);
    long responseCode = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &responseCode);
    const auto status = static_cast<std::int32_t>(responseCode);

    form.reset();
    headers.reset();
    handle.reset();

    if (result != CURLE_OK) {
        error = response.failure != nullptr ? response.failure : curl_easy_strerror(result);
        return false;
    }
    return InterpretAnswer(status, response.bytes, text, error);
}
