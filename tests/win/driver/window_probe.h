// Reading and driving another process's windows from outside, the way a user's
// tools would: every request is a window message with a time-out, so a hung
// program fails the caller instead of blocking it.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/win/text_conversion.h"

constexpr UINT kReplyTimeoutMs = 10000;

// Polls `condition` every 50 ms until it holds; false after `timeout`.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Sends `message` and waits up to `timeoutMs` for the answer; none when the window
// did not answer in time (or does not exist).
std::optional<LRESULT> SendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT timeoutMs = kReplyTimeoutMs);

std::wstring WindowText(HWND window);  // WM_GETTEXT, whole
bool SetWindowTextTo(HWND window, const std::wstring& text);  // WM_SETTEXT
std::wstring ClassNameOf(HWND window);

struct ControlInfo {
    HWND handle = nullptr;
    std::wstring className;
    std::wstring text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    RECT rect = {};  // in the parent's client coordinates
};

ControlInfo DescribeControl(HWND control);
// The direct children of `parent`, in the order the window system keeps them.
std::vector<ControlInfo> ListChildren(HWND parent);

RECT ClientRectOf(HWND window);

// The first top-level window of class `className` that belongs to process `processId`.
HWND FindTopLevelWindow(DWORD processId, const wchar_t* className);

// Pixels of `window`'s client area as the screen shows them, row by row from the
// top, as 0x00RRGGBB. Empty when the grab failed.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;
    std::uint32_t At(int x, int y) const { return rgb[static_cast<std::size_t>(y) * width + x]; }
};
Pixels GrabClientPixels(HWND window);

