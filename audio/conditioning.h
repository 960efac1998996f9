// Conditioning of captured samples: device format -> float -> mono -> level ->
// 16 kHz -> signed 16-bit. Each step sizes its output buffer itself and reuses
// its capacity, so the chain allocates nothing once the buffers have grown.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/mix_format.h"

// Smoothed input level in dBFS, written by the capture thread, read by the level bar.
extern std::atomic<float> g_levelDb;

// Every operation sets the length of its output itself and writes each element of
// it: a null input with a positive count yields silence of that length; a count,
// channel count or rate that cannot describe a packet yields an empty output.

// Device samples (float, or integers in 16/24/32-bit containers) to interleaved
// floats; any other container gives silence.
void ConvertToFloat(const std::uint8_t* data, std::uint32_t frames, int channels,
                    const WAVEFORMATEX& mixFormat, std::vector<float>& out);
// The average of each frame's channels.
void DownmixToMono(const float* in, int frames, int channels, std::vector<float>& out);
// Smooths the packet's RMS level into g_levelDb; NaN samples count as silence.
void UpdateLevelMeter(const float* in, int count);
// Linear interpolation of one packet, on its own, to 16000 samples per second.
void ResampleTo16k(const float* in, int count, int rate, std::vector<float>& out);
// Clamps to [-1, 1], scales by 32767, rounds half away from zero; NaN gives 0.
void FloatToInt16(const float* in, int count, std::vector<std::int16_t>& out);
