// The main window: its controls, their layout, the level-bar timer, Start and Stop,
// and the ordered shutdown at close. Everything here runs on the window thread.
#pragma once

#include <windows.h>

#include "app/win/window_state.h"

constexpr const wchar_t* kMainWindowClass = L"ValdrinWASAPIWnd";
constexpr const wchar_t* kMainWindowTitle = L"Valdrin Live (WASAPI+MP3+dB)+Custom Server";

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the main window class and creates the (hidden) main window; null on failure.
HWND CreateMainWindow(HINSTANCE instance);

// Runs the thread's message loop until the quit message; returns its exit code.
int RunMessageLoop();
