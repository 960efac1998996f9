#include "transcribe/chunk_job.h"

#include <system_error>
#include <utility>

#include "core/log_core.h"
#include "transcribe/mp3_encoder.h"
#include "transcribe/server_client.h"

std::atomic<bool> g_isShuttingDown{false};
std::vector<std::thread> g_workers;
std::mutex g_workersMutex;

void (*g_seamAfterWorkerStart)() = nullptr;
void (*g_seamAfterEncoding)() = nullptr;

ChunkJob::ChunkJob(std::vector<std::int16_t>&& chunkSamples, const std::string& chunkLanguage, TranscriptLine line)
    : samples(std::move(chunkSamples)), language(chunkLanguage), transcriptLine(std::move(line)) {}

void ChunkJob::operator()() { RunChunkJob(*this); }

namespace {
// The chunk's one error line, and the same words in its transcript line.
void ReportFailure(ChunkJob& job, const std::string& failure) {
    AppendLog("[Error] " + failure + "\n");
    job.transcriptLine.NoText(failure);
}
}  // namespace

void RunChunkJob(ChunkJob& job) {
    if (g_isShuttingDown.load()) return;

    std::vector<std::uint8_t> mp3;
    std::string text;
    std::string error;
    if (!EncodeMp3(job.samples.data(), static_cast<std::int32_t>(job.samples.size()), mp3)) {
        ReportFailure(job, "MP3 encoding failed");
        return;
    }
    if (g_seamAfterEncoding) g_seamAfterEncoding();
    if (g_isShuttingDown.load()) return;

    if (!PostChunk(mp3, job.language, text, error)) {
        ReportFailure(job, "POST failed: " + error);
        return;
    }
    if (!text.empty()) AppendLog(text + "\r\n");
    job.transcriptLine.Text(text);
}

namespace {
// A worker must never take its process down: whatever escapes the job is reported
// as this chunk's one line.
void WorkerMain(ChunkJob job) {
    try {
        job();
    } catch (const std::exception& e) {
        ReportFailure(job, std::string("Chunk worker failed: ") + e.what());
    } catch (...) {
        ReportFailure(job, "Chunk worker failed");
    }
}
}  // namespace

void LaunchChunkJob(std::vector<std::int16_t>&& samples, const std::string& language, CaptureTime firstSample) {
    // Reserved first, so that even a chunk dropped here has its line.
    TranscriptLine line = ReserveTranscriptLine(firstSample);
    if (g_isShuttingDown.load()) return;

    std::thread worker;
    try {
        worker = std::thread(WorkerMain, ChunkJob(std::move(samples), language, std::move(line)));
    } catch (const std::system_error& e) {
        // No thread for this chunk: the capture thread carries on with the next one.
        AppendLog(std::string("[Error] Could not start a worker thread, chunk dropped: ") + e.what() + "\n");
        return;
    }
    if (g_seamAfterWorkerStart) g_seamAfterWorkerStart();

    {
        // The shutdown test and the registration are one step, so no worker can be
        // added after JoinAllWorkers has taken the list.
        std::lock_guard<std::mutex> lock(g_workersMutex);
        if (!g_isShuttingDown.load()) {
            g_workers.push_back(std::move(worker));
            return;
        }
    }
    // Close began while the thread was starting: it sees the flag and ends without
    // sending; join it here since the registry is no longer collected.
    worker.join();
}

void JoinAllWorkers() {
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(g_workersMutex);
        workers.swap(g_workers);
    }
    for (auto& worker : workers) {
        if (worker.joinable()) worker.join();
    }
}
