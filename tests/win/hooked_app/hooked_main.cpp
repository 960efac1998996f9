// The program with test hooks: the same window, subclassed so that it also answers
// the messages of test_hooks.h. When started with a file path as its argument, it
// writes the log pane's final text there (UTF-8) as the window is destroyed, after
// the close has joined every worker.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/log_core.h"
#include "core/settings.h"
#include "app/win/log_pane_win.h"
#include "app/win/main_window.h"
#include "core/win/text_conversion.h"
#include "audio/conditioning.h"
#include "audio/win/capture_stream.h"
#include "tests/win/hooked_app/test_hooks.h"
#include "transcribe/chunk_job.h"

namespace {

std::wstring g_paneDumpPath;

void AppendFromThreads(int threads, int lines) {
    std::vector<std::thread> appenders;
    for (int t = 0; t < threads; ++t) {
        appenders.emplace_back([t, lines] {
            for (int l = 0; l < lines; ++l) AppendLog(ThreadLine(t, l));
        });
    }
    // Joined while they append: none of them may wait for this thread.
    for (std::thread& appender : appenders) appender.join();
}

HANDLE g_captureThreadHeld = CreateEventW(nullptr, TRUE, FALSE, nullptr);

HRESULT STDMETHODCALLTYPE NeverReturningGetNextPacketSize(IAudioCaptureClient*, UINT32*) {
    SetEvent(g_captureThreadHeld);
    Sleep(INFINITE);
    return E_FAIL;
}

// Replaces GetNextPacketSize in the capture client's method table, which comes after
// IUnknown's three methods, GetBuffer and ReleaseBuffer.
bool HoldCaptureThread() {
    if (!g_capture.captureClient) return false;
    void** methods = *reinterpret_cast<void***>(g_capture.captureClient);
    void** entry = &methods[5];
    DWORD protection = 0;
    if (!VirtualProtect(entry, sizeof(*entry), PAGE_EXECUTE_READWRITE, &protection)) return false;
    *entry = reinterpret_cast<void*>(&NeverReturningGetNextPacketSize);
    VirtualProtect(entry, sizeof(*entry), protection, &protection);
    return WaitForSingleObject(g_captureThreadHeld, 5000) == WAIT_OBJECT_0;
}

void DumpPane() {
    if (g_paneDumpPath.empty() || !g_hLogEdit) return;
    const int length = GetWindowTextLengthW(g_hLogEdit);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(g_hLogEdit, text.data(), length + 1)));
    std::ofstream(std::filesystem::path(g_paneDumpPath), std::ios::binary) << WideToUtf8(text);
}

LRESULT CALLBACK HookedWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kHookSetLevel: {
            const auto bits = static_cast<std::uint32_t>(wParam);
            float level = 0.0f;
            std::memcpy(&level, &bits, sizeof(level));
            g_levelDb = level;
            return 1;
        }
        case kHookAppendFromThreads:
            AppendFromThreads(static_cast<int>(wParam), static_cast<int>(lParam));
            return 1;
        case kHookLaunchChunks:
            for (WPARAM i = 0; i < wParam; ++i) {
                LaunchChunkJob(std::vector<std::int16_t>(static_cast<std::size_t>(lParam), 0), g_language.Get());
            }
            return 1;
        case kHookHoldCaptureThread:
            return HoldCaptureThread() ? 1 : 0;
        case WM_COPYDATA: {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (data->dwData != kCopyDataAppendLog) break;
            AppendLog(std::string(static_cast<const char*>(data->lpData), data->cbData));
            return TRUE;
        }
        case WM_DESTROY: {
            const LRESULT result = MainWndProc(window, message, wParam, lParam);
            DumpPane();  // the pane itself goes after its parent's WM_DESTROY
            return result;
        }
        default:
            break;
    }
    return MainWndProc(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    int argumentCount = 0;
    if (wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount)) {
        if (argumentCount > 1) g_paneDumpPath = arguments[1];
        LocalFree(arguments);
    }
    HWND window = CreateMainWindow(instance);
    if (!window) return 1;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HookedWndProc));
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return RunMessageLoop();
}
