// The four user settings, their validation rules and the upload URL.
// Written only by the window thread; read by the capture thread and the workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

// A text setting that other threads may read while the window thread replaces it:
// every reader gets a whole copy of either the old or the new value.
class SharedText {
public:
    explicit SharedText(const char* initial) : value_(initial) {}
    std::string Get() const;
    void Set(std::string value);

private:
    mutable std::mutex mutex_;
    std::string value_;
};

extern SharedText g_serverHost;               // UTF-8, "127.0.0.1"
extern std::atomic<std::int32_t> g_serverPort;    // 1..65535, 8080
extern std::atomic<std::int32_t> g_chunkSeconds;  // 1..30, 7
extern SharedText g_language;                 // "auto", "en" or "zh"; "zh"
extern const char* const g_inferencePath;     // "/inference"

constexpr std::int32_t kDefaultServerPort = 8080;
constexpr std::int32_t kDefaultChunkSeconds = 7;
constexpr std::int32_t kMinChunkSeconds = 1;
constexpr std::int32_t kMaxChunkSeconds = 30;
constexpr const char* kDefaultServerHost = "127.0.0.1";

// "http://" + host + ":" + port + "/inference", from the current settings.
std::string BuildServerUrl();

// The Windows C library's wide `long` conversion rules on every platform: leading
// white space, optional ASCII sign, digits up to the first other character, white
// space and digits as that library classifies them (see wide_digits.h). Empty when
// there is no digit or the value does not fit in 32 bits.
std::optional<std::int32_t> ParseInt32Prefix(const std::wstring& text);

// Host field text (UTF-8) -> stored host: empty becomes the default, then ASCII white
// space is trimmed at both ends.
std::string HostFromFieldText(const std::string& utf8);
// Port field text -> 1..65535, else 8080.
std::int32_t PortFromFieldText(const std::wstring& text);
// Chunk field text -> clamped to 1..30; unparsable gives 7.
std::int32_t ChunkSecondsFromFieldText(const std::wstring& text);
// True for exactly "auto", "en" and "zh".
bool IsSupportedLanguage(const std::string& code);
