// The four user settings, their validation rules and the upload URL.
// Written only by the window thread; read by the capture thread and the workers.
#pragma once

#include <array>
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

constexpr const char* kDefaultServerHost = "127.0.0.1";
constexpr std::int32_t kDefaultServerPort = 8080;
constexpr std::int32_t kDefaultChunkSeconds = 7;
constexpr std::int32_t kMinChunkSeconds = 1;
constexpr std::int32_t kMaxChunkSeconds = 30;
// The language codes the user can pick, in the order the list shows them.
constexpr std::array<const char*, 3> kLanguages = {"auto", "en", "zh"};
constexpr const char* kDefaultLanguage = "zh";

// Each starts at its default above.
extern SharedText g_serverHost;                   // UTF-8
extern std::atomic<std::int32_t> g_serverPort;    // 1..65535
extern std::atomic<std::int32_t> g_chunkSeconds;  // kMinChunkSeconds..kMaxChunkSeconds
extern SharedText g_language;                     // one of kLanguages
extern const char* const g_inferencePath;         // "/inference"

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
// Port field text -> 1..65535, else kDefaultServerPort.
std::int32_t PortFromFieldText(const std::wstring& text);
// Chunk field text -> clamped to kMinChunkSeconds..kMaxChunkSeconds; unparsable gives
// kDefaultChunkSeconds.
std::int32_t ChunkSecondsFromFieldText(const std::wstring& text);
// True for exactly the codes of kLanguages.
bool IsSupportedLanguage(const std::string& code);
