// valdrin-post-wav: sends a 16 kHz mono 16-bit WAV file to a recognition server the way
// the tool sends a chunk (EncodeMp3, then PostChunk) and prints the transcript.
//
//   valdrin-post-wav HOST PORT LANGUAGE FILE.wav
//
// Exit code 0 with the transcript on stdout; 1 with the error on stderr.
#include <curl/curl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/settings.h"
#include "transcribe/mp3_encoder.h"
#include "transcribe/server_client.h"

namespace {

std::uint32_t ReadLe32(const char* p) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(p[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[3])) << 24;
}

// The samples of a RIFF/WAVE file holding 16 kHz mono 16-bit PCM; false otherwise.
bool ReadWav16kMono(const std::string& path, std::vector<std::int16_t>& samples, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        error = path + ": not a RIFF/WAVE file";
        return false;
    }
    bool formatOk = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t size = ReadLe32(&bytes[at + 4]);
        const std::size_t body = at + 8;
        if (size > bytes.size() - body) break;
        if (id == "fmt " && size >= 16) {
            const char* f = &bytes[body];
            const auto word = [&](int offset) {
                return static_cast<unsigned>(static_cast<unsigned char>(f[offset]) |
                                             static_cast<unsigned char>(f[offset + 1]) << 8);
            };
            formatOk = word(0) == 1 && word(2) == 1 && ReadLe32(f + 4) == 16000 && word(14) == 16;
        } else if (id == "data") {
            if (!formatOk) break;
            samples.resize(size / 2);
            std::memcpy(samples.data(), &bytes[body], samples.size() * 2);
            return true;
        }
        at = body + size + (size & 1);
    }
    error = path + ": not 16 kHz mono 16-bit PCM";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: valdrin-post-wav HOST PORT LANGUAGE FILE.wav\n");
        return 2;
    }
    std::vector<std::int16_t> samples;
    std::string error;
    if (!ReadWav16kMono(argv[4], samples, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<std::uint8_t> mp3;
    if (!EncodeMp3(samples.data(), static_cast<std::int32_t>(samples.size()), mp3)) {
        std::fprintf(stderr, "MP3 encoding failed\n");
        return 1;
    }
    g_serverHost.Set(argv[1]);
    g_serverPort = PortFromFieldText(std::wstring(argv[2], argv[2] + std::strlen(argv[2])));
    curl_global_init(CURL_GLOBAL_ALL);
    std::string text;
    const bool posted = PostChunk(mp3, argv[3], text, error);
    curl_global_cleanup();
    if (!posted) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", text.c_str());
    return 0;
}
