// The conditioning steps of one captured packet in capture order, with the buffers a
// capture thread keeps from packet to packet.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/conditioning.h"

struct ConditioningChain {
    std::vector<float> deviceFloats;
    std::vector<float> monoFloats;
    std::vector<float> floats16k;
    std::vector<std::int16_t> samples16k;

    void Run(const std::uint8_t* data, std::uint32_t frames, const WAVEFORMATEX& format) {
        const int channels = format.nChannels;
        const int rate = static_cast<int>(format.nSamplesPerSec);
        ConvertToFloat(data, frames, channels, format, deviceFloats);
        DownmixToMono(deviceFloats.data(), static_cast<int>(frames), channels, monoFloats);
        const int monoCount = static_cast<int>(monoFloats.size());
        UpdateLevelMeter(monoFloats.data(), monoCount);
        ResampleTo16k(monoFloats.data(), monoCount, rate, floats16k);
        FloatToInt16(floats16k.data(), static_cast<int>(floats16k.size()), samples16k);
    }
};
