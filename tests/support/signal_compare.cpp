#include "tests/support/signal_compare.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Overlap of `reference` and `delayed` shifted back by `delay`.
std::size_t Overlap(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& delayed,
                    std::size_t delay) {
    return delay >= delayed.size() ? 0 : std::min(reference.size(), delayed.size() - delay);
}

}  // namespace

std::size_t FindDelay(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& delayed,
                      std::size_t maxLag) {
    std::size_t best = 0;
    double bestScore = -std::numeric_limits<double>::infinity();
    for (std::size_t lag = 0; lag <= maxLag; ++lag) {
        const std::size_t overlap = Overlap(reference, delayed, lag);
        double product = 0.0;
        double energy = 0.0;
        for (std::size_t i = 0; i < overlap; ++i) {
            const double d = delayed[i + lag];
            product += static_cast<double>(reference[i]) * d;
            energy += d * d;
        }
        const double score = energy > 0.0 ? product / std::sqrt(energy) : 0.0;
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& delayed,
             std::size_t delay) {
    const std::size_t overlap = Overlap(reference, delayed, delay);
    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t i = 0; i < overlap; ++i) {
        const double r = reference[i];
        const double e = r - delayed[i + delay];
        signal += r * r;
        noise += e * e;
    }
    if (noise == 0.0) {
        return std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(signal / noise);
}

double ToneFrequencyHz(const std::int16_t* samples, std::size_t count, double sampleRate) {
    double first = -1.0;
    double last = -1.0;
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < count; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            // Interpolate where the wave passes zero between the two samples.
            const double a = samples[i - 1];
            const double b = samples[i];
            const double at = static_cast<double>(i - 1) + (-a) / (b - a);
            if (crossings == 0) {
                first = at;
            }
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2) {
        return 0.0;
    }
    return static_cast<double>(crossings - 1) * sampleRate / (last - first);
}

double RmsDbfs(const std::int16_t* samples, std::size_t count) {
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    const double rms = count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
    return rms > 0.0 ? 20.0 * std::log10(rms / 32768.0) : -std::numeric_limits<double>::infinity();
}
