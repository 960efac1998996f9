#include "core/settings.h"

#include <limits>
#include <sstream>
#include <utility>

#include "core/wide_digits.h"

SharedText g_serverHost{kDefaultServerHost};
std::atomic<std::int32_t> g_serverPort{kDefaultServerPort};
std::atomic<std::int32_t> g_chunkSeconds{kDefaultChunkSeconds};
SharedText g_language{kDefaultLanguage};
const char* const g_inferencePath = "/inference";

std::string SharedText::Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
}

void SharedText::Set(std::string value) {
    std::lock_guard<std::mutex> lock(mutex_);
    value_.swap(value);  // the old text is freed after the lock is released
}

std::string BuildServerUrl() {
    std::ostringstream url;
    url << "http://" << g_serverHost.Get() << ":" << g_serverPort.load() << g_inferencePath;
    return url.str();
}

namespace {

// isspace in the "C" locale.
bool IsCSpace(unsigned int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::optional<std::int32_t> ParseInt32Prefix(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && IsWideSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // Accumulate as a negative number so that INT32_MIN needs no special case.
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    bool anyDigit = false;
    bool overflow = false;
    for (int digit; i < text.size() && (digit = WideDigitValue(text[i])) >= 0; ++i) {
        anyDigit = true;
        if (!overflow) {
            value = value * 10 - digit;
            overflow = value < kMin;
        }
    }
    if (!anyDigit || overflow) return std::nullopt;
    if (!negative) {
        value = -value;
        if (value > kMax) return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::string HostFromFieldText(const std::string& utf8) {
    if (utf8.empty()) return kDefaultServerHost;  // tested before trimming, on purpose
    std::size_t begin = 0;
    std::size_t end = utf8.size();
    while (begin < end && IsCSpace(static_cast<unsigned char>(utf8[begin]))) ++begin;
    while (end > begin && IsCSpace(static_cast<unsigned char>(utf8[end - 1]))) --end;
    return utf8.substr(begin, end - begin);
}

std::int32_t PortFromFieldText(const std::wstring& text) {
    if (text.empty()) return kDefaultServerPort;
    const auto port = ParseInt32Prefix(text);
    return (port && *port >= 1 && *port <= 65535) ? *port : kDefaultServerPort;
}

std::int32_t ChunkSecondsFromFieldText(const std::wstring& text) {
    const auto seconds = ParseInt32Prefix(text);
    if (!seconds) return kDefaultChunkSeconds;
    if (*seconds < kMinChunkSeconds) return kMinChunkSeconds;
    if (*seconds > kMaxChunkSeconds) return kMaxChunkSeconds;
    return *seconds;
}

bool IsSupportedLanguage(const std::string& code) {
    for (const char* language : kLanguages) {
        if (code == language) return true;
    }
    return false;
}
