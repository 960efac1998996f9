// Figures of the capture stream, printed: the capture thread's share of one core while
// it records, and how long StopCapture takes. Run inside the test bed (source its env):
//   wine build/win/bench/win/capture_figures.exe
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/log_core.h"
#include "core/settings.h"
#include "audio/win/capture_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

// Kernel plus user time of `thread`, in seconds; negative when the platform has none.
double BusySeconds(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1.0;
    return Seconds(kernel) + Seconds(user);
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

bool MeasureCpuShare(double recordSeconds) {
    if (!StartCapture(g_capture)) return false;
    Sleep(1000);  // past the stream's start-up
    const double busyBefore = BusySeconds(g_capture.captureThread);
    const auto from = Clock::now();
    Sleep(static_cast<DWORD>(recordSeconds * 1000));
    const double busyAfter = BusySeconds(g_capture.captureThread);
    const double wall = std::chrono::duration<double>(Clock::now() - from).count();
    StopCapture(g_capture);
    if (busyBefore < 0 || busyAfter < 0) {
        std::printf("capture thread CPU: GetThreadTimes unavailable\n");
        return true;
    }
    std::printf("capture thread CPU while recording %.1f s: %.3f s busy, %.2f %% of one core\n", wall,
                busyAfter - busyBefore, 100.0 * (busyAfter - busyBefore) / wall);
    return true;
}

void PrintStopTimes(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("StopCapture %s, %zu runs: min %.1f ms, median %.1f ms, max %.1f ms\n", what, times.size(),
                times.front(), times[times.size() / 2], times.back());
}

bool MeasureStopTimes(int runs, DWORD recordMs, const char* what) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        if (!StartCapture(g_capture)) return false;
        Sleep(recordMs);
        const auto called = Clock::now();
        StopCapture(g_capture);
        times.push_back(Milliseconds(Clock::now() - called));
    }
    PrintStopTimes(what, times);
    return true;
}

}  // namespace

int main() {
    std::string errors;
    SetLogSink([&errors](const std::string& text) {
        if (text.rfind("[Info] ", 0) != 0) errors += text;
    });
    g_chunkSeconds = kMaxChunkSeconds;  // no chunk, so no upload, in these recordings

    const bool measured = MeasureCpuShare(10.0) && MeasureStopTimes(20, 0, "right after StartCapture") &&
                          MeasureStopTimes(20, 1000, "after 1 s of recording");
    SetLogSink(nullptr);
    if (!measured) std::printf("capture could not start: %s", errors.c_str());
    return measured ? 0 : 1;
}
