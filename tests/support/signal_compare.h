// Comparing a decoded signal with the one that went into a lossy coder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The lag in [0, maxLag] at which `delayed` best matches `reference` (highest
// normalised cross-correlation), i.e. how many samples the coder put in front.
std::size_t FindDelay(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& delayed,
                      std::size_t maxLag);

// Signal-to-noise ratio in dB of `delayed` shifted back by `delay` against `reference`,
// over the samples both cover.
double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& delayed,
             std::size_t delay);

// Frequency in Hz of a steady tone, from its first and last rising zero crossings.
double ToneFrequencyHz(const std::int16_t* samples, std::size_t count, double sampleRate);

// Root-mean-square level in dBFS (full-scale sine = -3 dBFS).
double RmsDbfs(const std::int16_t* samples, std::size_t count);
