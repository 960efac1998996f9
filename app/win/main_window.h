// The main window: its controls, their layout, the level-bar timer, Start and Stop,
// and the ordered shutdown at close. Everything here runs on the window thread.
#pragma once

#include <windows.h>

#include "app/win/window_state.h"

constexpr const wchar_t* kMainWindowClass = L"ValdrinWASAPIWnd";
constexpr const wchar_t* kMainWindowTitle = L"Valdrin Live (WASAPI+MP3+dB)+Custom Server";

// How long, from its start, the close waits for a capture thread that does not end
// (one stuck in a driver call): longer than an upload may take (15 s), so that a merely
// slow thread ends normally. After that the process ends with exit code 0 once the rest
// of the close is done, without the exit-time clean-up the thread could still touch.
constexpr DWORD kCloseCaptureLimitMs = 20000;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the main window class and creates the (hidden) main window; null on failure.
HWND CreateMainWindow(HINSTANCE instance);

// Exit code of the program when the message loop fails (GetMessageW returns -1).
constexpr int kMessageLoopFailedExitCode = 2;

// Runs the thread's message loop until the quit message; returns its exit code, or
// kMessageLoopFailedExitCode when GetMessageW fails, on its first call or later.
int RunMessageLoop();
