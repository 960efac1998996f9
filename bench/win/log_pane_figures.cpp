// Figures of the log pane, printed: what one appended line costs the window thread as
// the pane fills up to its capacity, what the trim of the oldest lines costs, and how
// long a worker thread's AppendLog takes (it only queues and wakes the window). Run
// inside the test bed (source its env):
//   wine build/win/bench/win/log_pane_figures.exe
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/log_core.h"
#include "app/win/log_pane_win.h"
#include "app/win/main_window.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

void ServeMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// A transcript-like line of 100 units in the pane.
const std::string kLine = "a transcript line of a hundred characters, much like the ones the server sends back...............\r\n";

double MedianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Median cost of one line appended on the window thread, over `count` lines.
double LineCostMs(int count) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        AppendLog(kLine);
        samples.push_back(Milliseconds(Clock::now() - start));
        ServeMessages();  // repaints, as between transcripts
    }
    return MedianMs(samples);
}

// Appends whole lines until the pane holds `units` (a multiple of the line's length).
void FillTo(int units) {
    const int lineUnits = static_cast<int>(kLine.size());
    for (int missing = units - GetWindowTextLengthW(g_hLogEdit); missing >= lineUnits;
         missing = units - GetWindowTextLengthW(g_hLogEdit)) {
        std::string batch;
        for (int i = 0; i < std::min(missing / lineUnits, 1000); ++i) batch += kLine;
        AppendLog(batch);
        ServeMessages();
    }
}

double WorkerAppendMicroseconds(int count) {
    std::vector<double> samples;
    std::thread([&] {
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            AppendLog(kLine);
            samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }).join();
    ServeMessages();
    return MedianMs(samples);
}

}  // namespace

int main() {
    HWND window = CreateMainWindow(GetModuleHandleW(nullptr));
    if (!window || !g_hLogEdit) {
        std::fprintf(stderr, "no window\n");
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    ServeMessages();

    std::printf("one line appended by the window thread (median of 20), by pane size:\n");
    for (int units : {2000, 100000, 1000000, 2000000, 3000000, 3990000}) {
        FillTo(units);
        std::printf("  %8d units: %7.2f ms\n", GetWindowTextLengthW(g_hLogEdit), LineCostMs(20));
    }
    FillTo(3999900);
    const auto trimStart = Clock::now();
    AppendLog(std::string(200, 'x') + "\n");  // passes the capacity: the oldest lines go
    std::printf("append that trims the oldest lines (to %d units): %.1f ms\n", GetWindowTextLengthW(g_hLogEdit),
                Milliseconds(Clock::now() - trimStart));
    std::printf("one line appended by a worker thread (median of 1000): %.1f us\n", WorkerAppendMicroseconds(1000));
    DestroyWindow(window);
    ServeMessages();
    return 0;
}
