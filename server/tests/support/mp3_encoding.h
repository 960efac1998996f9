// MP3 streams made with LAME, as the tool makes them.
#pragma once

#include <cstdint>
#include <vector>

namespace speech_server::testing {

// Encodes interleaved 16-bit samples at 64 kbit/s (the same rate and channel count
// out as in). Throws std::runtime_error when LAME refuses.
std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& samples, int sample_rate, int channels);

}  // namespace speech_server::testing
