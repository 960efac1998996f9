// The level bar: a child control that paints g_levelDb as a bar over -80..0 dBFS
// with the level written across it. It keeps no state; the main window's timer
// invalidates it every 33 ms.
#pragma once

#include <windows.h>

// Registers "VolBarClass" for `instance`; the result is not needed by the caller.
constexpr const wchar_t* kVolBarClass = L"VolBarClass";

void RegisterVolBarClass(HINSTANCE instance);

LRESULT CALLBACK VolBarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
