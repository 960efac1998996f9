// Decodes an MP3 stream held in memory with a real decoder (libmpg123), for tests
// that check what the system's encoder produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DecodedMp3 {
    std::vector<std::int16_t> samples;  // always 16000 Hz mono 16-bit, whatever the stream
    long streamRate = 0;                // the stream's own sample rate, Hz (first frame)
    int streamChannels = 0;             // the stream's own channel count (first frame)
    double mpegVersion = 0;             // 1.0, 2.0 or 2.5 (first frame)
    int layer = 0;                      // first frame
    int bitrateKbps = 0;                // first frame
    std::size_t frames = 0;             // frames decoded
};

// Decodes the whole stream. False, with the reason in `error`, when the decoder
// reports an error or finds no frame at all.
bool DecodeMp3(const std::uint8_t* data, std::size_t size, DecodedMp3& decoded, std::string& error);
bool DecodeMp3(const std::vector<std::uint8_t>& mp3, DecodedMp3& decoded, std::string& error);
