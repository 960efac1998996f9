// Writes the fuzzer's starting inputs: real MP3 streams from LAME behind each kind of
// control byte, so that the fuzzer begins with audio the decoder accepts.
#include <cstdio>
#include <string>
#include <vector>

#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"

namespace {

using namespace speech_server::testing;

bool WriteSeed(const std::string& path, unsigned char control, const std::vector<std::uint8_t>& mp3) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fputc(control, file) != EOF && std::fwrite(mp3.data(), 1, mp3.size(), file) == mp3.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SEED-FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::vector<std::int16_t> speech = GoForwardSamples();
    speech.resize(8000);  // half a second keeps the fuzzer fast
    const std::vector<std::vector<std::uint8_t>> streams = {
        EncodeMp3(SineWave(440, 0.3, 16000, 1), 16000, 1),
        EncodeMp3(SineWave(1000, 0.2, 44100, 2), 44100, 2),
        EncodeMp3(speech, 16000, 1),
    };
    const unsigned char controls[] = {0x00, 0x61, 0xE2, 0x13, 0x24, 0x48};
    int count = 0;
    for (std::size_t s = 0; s < streams.size(); ++s) {
        for (unsigned char control : controls) {
            const std::string path = folder + "/seed-" + std::to_string(s) + "-" + std::to_string(control);
            if (!WriteSeed(path, control, streams[s])) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
            ++count;
        }
    }
    std::printf("%d seeds in %s\n", count, folder.c_str());
    return 0;
}
