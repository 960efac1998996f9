// Messages that only the test build of the program (valdrin-live-hooked) answers.
// They reach inside the program where no control can: the measured level, log text
// from many threads at once, raw bytes for the log, chunk jobs without a microphone.
#pragma once

#include <windows.h>

#include <string>

// wParam: the bits of a single float, stored into g_levelDb. Returns 1.
constexpr UINT kHookSetLevel = WM_APP + 100;
// wParam threads each append lParam lines (ThreadLine) at the same time; the window
// thread joins them before it answers 1.
constexpr UINT kHookAppendFromThreads = WM_APP + 101;
// Launches wParam chunk jobs of lParam silent samples each, in the current language.
constexpr UINT kHookLaunchChunks = WM_APP + 102;
// Holds the capture thread for good, as a driver call that never returns would: its
// next GetNextPacketSize does not return. Answers 1 once the thread is held there, 0 when
// there is no capture stream or the thread was not held within 5 s.
constexpr UINT kHookHoldCaptureThread = WM_APP + 103;
// WM_COPYDATA with this dwData: the bytes are passed to AppendLog unchanged.
constexpr ULONG_PTR kCopyDataAppendLog = 0x564C4F47;

inline std::string ThreadLine(int thread, int line) {
    return "[Info] thread " + std::to_string(thread) + " line " + std::to_string(line) + "\n";
}
