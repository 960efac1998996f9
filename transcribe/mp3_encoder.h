// One chunk of 16 kHz mono 16-bit samples -> one complete MP3 stream in memory.
#pragma once

#include <cstdint>
#include <vector>

// Returns false on any failure; on a bad argument `out` is left untouched.
bool EncodeMp3(const std::int16_t* samples, std::int32_t count, std::vector<std::uint8_t>& out);
