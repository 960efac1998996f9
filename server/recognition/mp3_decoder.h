// Decodes a whole MP3 stream held in memory to 16 kHz mono signed 16-bit samples,
// the only form the recogniser takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace speech_server {

constexpr long kSampleRate = 16000;

struct Mp3Decoding {
    enum class Outcome {
        kDecoded,   // samples hold the audio (possibly silence, never empty)
        kNoFrames,  // no MPEG audio frame in the data
        kDamaged,   // frames were found but the stream cannot be decoded; detail says why
        kTooLong,   // the audio runs past the caller's limit
        kFailed,    // the decoder could not be set up (out of memory); detail says why
    };
    Outcome outcome = Outcome::kFailed;
    std::vector<std::int16_t> samples;
    std::string detail;
};

// Streams of any MPEG rate and channel count are resampled and mixed down by the
// decoder. Decoding stops as soon as the output would exceed max_samples, so a
// small upload can never expand into unbounded memory. Thread-safe.
Mp3Decoding DecodeMp3(const std::uint8_t* data, std::size_t size, std::size_t max_samples);

}  // namespace speech_server
