// Deterministic 16 kHz mono 16-bit test signals. Header-only so that benchmarks can
// use them without linking the test support library.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace test_signal {

constexpr double kRate = 16000.0;
constexpr double kTwoPi = 6.283185307179586;

inline std::int16_t ToPcm16(double value) {
    const double scaled = std::round(value * 32767.0);
    return static_cast<std::int16_t>(scaled > 32767.0 ? 32767.0 : (scaled < -32768.0 ? -32768.0 : scaled));
}

// A sine of `hz` at `amplitude` (1.0 = full scale).
inline std::vector<std::int16_t> Tone(double hz, double amplitude, std::size_t count) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = ToPcm16(amplitude * std::sin(kTwoPi * hz * static_cast<double>(i) / kRate));
    }
    return samples;
}

// Voice-like: a harmonic series below 3.8 kHz on a gliding pitch, with a syllable-rate
// envelope and a little noise. Never periodic, so a delay can be found by correlation.
inline std::vector<std::int16_t> SpeechLike(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-0.02, 0.02);
    const double glideHz = 0.5 + 0.1 * static_cast<double>(seed % 7);
    std::vector<std::int16_t> samples(count);
    double phase = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double pitch = 140.0 + 50.0 * std::sin(kTwoPi * glideHz * t);
        phase += kTwoPi * pitch / kRate;
        double voice = 0.0;
        for (int harmonic = 1; harmonic * pitch < 3800.0; ++harmonic) {
            voice += std::sin(harmonic * phase) / harmonic;
        }
        const double envelope = 0.6 + 0.4 * std::sin(kTwoPi * 3.3 * t);
        samples[i] = ToPcm16(0.2 * envelope * voice + noise(random));
    }
    return samples;
}

}  // namespace test_signal
