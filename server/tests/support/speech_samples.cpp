#include "server/tests/support/speech_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace speech_server::testing {
namespace {

const std::string kDataDir = "/usr/share/pocketsphinx/test/data";

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path + " (install pocketsphinx-testdata)");
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::int16_t> LittleEndianSamples(const char* bytes, std::size_t size) {
    std::vector<std::int16_t> samples(size / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<unsigned char>(bytes[2 * i]);
        const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    }
    return samples;
}

std::uint32_t ReadUint32(const std::string& data, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data.at(at + i));
    return value;
}

// "<s> words </s> (clip-name)" -> words
std::string TranscriptWords(const std::string& line) {
    std::istringstream words(line.substr(0, line.rfind('(')));
    std::string word;
    std::string joined;
    while (words >> word) {
        if (word == "<s>" || word == "</s>") continue;
        if (!joined.empty()) joined += ' ';
        joined += word;
    }
    return joined;
}

// The clips of one folder of the test data, named `prefix` + file name, with the
// transcripts of its `transcript_file` ("<s> words </s> (file-name)" per line).
std::vector<TranscribedClip> TranscribedSet(const std::string& folder, const std::string& transcript_file,
                                            const std::string& prefix) {
    const std::string dir = kDataDir + "/" + folder + "/";
    std::istringstream lines(ReadFile(dir + transcript_file));
    std::vector<TranscribedClip> clips;
    std::string line;
    while (std::getline(lines, line)) {
        const auto open = line.rfind('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        const std::string file = line.substr(open + 1, close - open - 1);
        clips.push_back({prefix + file, ReadWavSamples(dir + file + ".wav"), TranscriptWords(line)});
    }
    if (clips.empty()) throw std::runtime_error("no transcripts in " + dir + transcript_file);
    return clips;
}

}  // namespace

std::vector<std::int16_t> GoForwardSamples() {
    const std::string raw = ReadFile(kDataDir + "/goforward.raw");
    return LittleEndianSamples(raw.data(), raw.size());
}

std::vector<std::int16_t> ReadWavSamples(const std::string& path) {
    const std::string wav = ReadFile(path);
    if (wav.size() < 12 || wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 4, "WAVE") != 0)
        throw std::runtime_error(path + " is not a WAV file");
    bool pcm16 = false;
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::string id = wav.substr(at, 4);
        const std::uint32_t size = ReadUint32(wav, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") pcm16 = static_cast<unsigned char>(wav.at(body)) == 1 && wav.at(body + 14) == 16;
        if (id == "data") {
            if (!pcm16) throw std::runtime_error(path + " is not 16-bit PCM");
            return LittleEndianSamples(wav.data() + body, std::min<std::size_t>(size, wav.size() - body));
        }
        at = body + size + (size & 1);
    }
    throw std::runtime_error(path + " has no data chunk");
}

std::vector<TranscribedClip> LibrivoxClips() { return TranscribedSet("librivox", "transcription", ""); }

std::vector<TranscribedClip> CardsClips() { return TranscribedSet("cards", "cards.transcription", "cards-"); }

std::vector<std::int16_t> BrownNoise(double seconds, double volume) {
    char command[160];
    std::snprintf(command, sizeof command,
                  "sox -R -n -r 16000 -c 1 -b 16 -e signed -L -t raw - synth %g brownnoise vol %g", seconds, volume);
    std::unique_ptr<FILE, int (*)(FILE*)> sox(popen(command, "r"), pclose);
    if (!sox) throw std::runtime_error("cannot run sox (install sox)");
    std::string raw;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, sox.get())) > 0;) raw.append(buffer, got);
    if (pclose(sox.release()) != 0 || raw.empty()) throw std::runtime_error(std::string("sox failed: ") + command);
    return LittleEndianSamples(raw.data(), raw.size());
}

std::vector<std::int16_t> SineWave(double frequency, double seconds, int sample_rate, int channels) {
    const auto frames = static_cast<std::size_t>(seconds * sample_rate);
    std::vector<std::int16_t> samples;
    samples.reserve(frames * static_cast<std::size_t>(channels));
    const double step = 2.0 * M_PI * frequency / sample_rate;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto value = static_cast<std::int16_t>(std::lround(16384.0 * std::sin(step * static_cast<double>(i))));
        samples.insert(samples.end(), static_cast<std::size_t>(channels), value);
    }
    return samples;
}

}  // namespace speech_server::testing
