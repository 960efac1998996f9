#include "tests/win/driver/window_probe.h"

#include <thread>

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::optional<LRESULT> SendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result)) return std::nullopt;
    return static_cast<LRESULT>(result);
}

std::wstring WindowText(HWND window) {
    const auto length = SendTimed(window, WM_GETTEXTLENGTH, 0, 0);
    if (!length || *length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(*length) + 1, L'\0');
    const auto copied = SendTimed(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied && *copied > 0 ? static_cast<std::size_t>(*copied) : 0);
    return text;
}

bool SetWindowTextTo(HWND window, const std::wstring& text) {
    const auto result = SendTimed(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return result && *result == TRUE;
}

std::wstring ClassNameOf(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

ControlInfo DescribeControl(HWND control) {
    ControlInfo info;
    info.handle = control;
    info.className = ClassNameOf(control);
    info.text = WindowText(control);
    info.style = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE));
    info.exStyle = static_cast<DWORD>(GetWindowLongPtrW(control, GWL_EXSTYLE));
    info.id = static_cast<int>(GetWindowLongPtrW(control, GWLP_ID));
    GetWindowRect(control, &info.rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&info.rect), 2);
    return info;
}

std::vector<ControlInfo> ListChildren(HWND parent) {
    std::vector<ControlInfo> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(DescribeControl(child));
    }
    return children;
}

RECT ClientRectOf(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return client;
}

HWND FindTopLevelWindow(DWORD processId, const wchar_t* className) {
    for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window;
         window = FindWindowExW(nullptr, window, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) return window;
    }
    return nullptr;
}

Pixels GrabClientPixels(HWND window) {
    Pixels pixels;
    RECT client = ClientRectOf(window);
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return pixels;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory && bitmap && bits) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, client.left, client.top, SRCCOPY)) {
            GdiFlush();
            const auto* data = static_cast<const std::uint32_t*>(bits);
            pixels.width = width;
            pixels.height = height;
            pixels.rgb.reserve(static_cast<std::size_t>(width) * height);
            for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
                pixels.rgb.push_back(data[i] & 0x00FFFFFFu);
            }
        }
        SelectObject(memory, previous);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}
