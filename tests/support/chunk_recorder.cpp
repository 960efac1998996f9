#include "tests/support/chunk_recorder.h"

#include <utility>

namespace {
std::mutex g_recordedMutex;
std::vector<RecordedChunk> g_recorded;
}  // namespace

void RecordChunk(std::vector<std::int16_t>&& samples, const std::string& language, CaptureTime firstSample) {
    std::lock_guard<std::mutex> lock(g_recordedMutex);
    g_recorded.push_back({std::move(samples), language, firstSample});
}

std::vector<RecordedChunk> TakeRecordedChunks() {
    std::lock_guard<std::mutex> lock(g_recordedMutex);
    return std::exchange(g_recorded, {});
}
