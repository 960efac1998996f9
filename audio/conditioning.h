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

void ConvertToFloat(const std::uint8_t* data, std::uint32_t frames, int channels,
                    const WAVEFORMATEX& mixFormat, std::vector<float>& out);
void DownmixToMono(const float* in, int frames, int channels, std::vector<float>& out);
void UpdateLevelMeter(const float* in, int count);
void ResampleTo16k(const float* in, int count, int rate, std::vector<float>& out);
void FloatToInt16(const float* in, int count, std::vector<std::int16_t>& out);
