// Link this into a test exe to have it record cut chunks instead of starting
// workers: it supplies the exe's LaunchChunkJob.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct RecordedChunk {
    std::vector<std::int16_t> samples;
    std::string language;
};

// Every chunk handed to LaunchChunkJob since the last call, oldest first.
std::vector<RecordedChunk> TakeRecordedChunks();
