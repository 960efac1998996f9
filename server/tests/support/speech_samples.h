// Test audio: Debian's pocketsphinx-testdata recordings and synthetic tones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace speech_server::testing {

// 16 kHz mono 16-bit, headerless: "go forward ten meters".
std::vector<std::int16_t> GoForwardSamples();
constexpr const char* kGoForwardText = "go forward ten meters";

// Read speech with its reference transcript (lower case, no markers).
struct TranscribedClip {
    std::string name;
    std::vector<std::int16_t> samples;  // 16 kHz mono
    std::string transcript;
};
// The LibriVox clips of the test data: five sentences read by one speaker, 5 to 9 s
// each. Throws std::runtime_error when missing.
std::vector<TranscribedClip> LibrivoxClips();
// The cards clips of the test data: five short phrases such as "seven of clubs" read
// by another speaker, 1 to 4 s each. Throws std::runtime_error when missing.
std::vector<TranscribedClip> CardsClips();

// `seconds` of brown noise at 16 kHz, its RMS about `volume` / 2 of full scale, from
// sox with a fixed seed: the same samples on every call. Throws when sox fails.
std::vector<std::int16_t> BrownNoise(double seconds, double volume);

// A 16-bit PCM WAV file's samples, channels interleaved. Throws on other formats.
std::vector<std::int16_t> ReadWavSamples(const std::string& path);

// Interleaved 16-bit samples of a sine at half of full scale, the same on every channel.
std::vector<std::int16_t> SineWave(double frequency, double seconds, int sample_rate, int channels);

}  // namespace speech_server::testing
