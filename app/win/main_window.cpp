// curl.h brings winsock2.h, which has to come before windows.h.
#include <curl/curl.h>

#include "app/win/main_window.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/win/control_table.h"
#include "app/win/level_meter_win.h"
#include "app/win/log_pane_win.h"
#include "app/win/settings_controls.h"
#include "app/win/transcript_menu.h"
#include "audio/win/capture_stream.h"
#include "core/log_core.h"
#include "core/settings.h"
#include "core/win/text_conversion.h"
#include "transcribe/chunk_job.h"

namespace {

constexpr UINT kLevelRefreshMs = 33;
// Posted by the capture thread when the stream failed for good and the thread ended.
constexpr UINT WM_APP_CAPTURE_LOST = WM_APP + 2;

void FillLanguageList() {
    if (!g_hLangCombo) return;
    for (const char* code : kLanguages) {
        SendMessageW(g_hLangCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(code).c_str()));
    }
    const auto selected = std::find_if(kLanguages.begin(), kLanguages.end(),
                                       [](const char* code) { return std::strcmp(code, kDefaultLanguage) == 0; });
    SendMessageW(g_hLangCombo, CB_SETCURSEL, static_cast<WPARAM>(selected - kLanguages.begin()), 0);
}

void CreateControls(HWND window, HINSTANCE instance) {
    RegisterVolBarClass(instance);
    for (const ControlSpec& c : MainWindowControls()) {
        HWND control = CreateWindowExW(c.exStyle, c.className, c.text.c_str(), WS_CHILD | WS_VISIBLE | c.style, c.x,
                                       c.y, c.width, c.height, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        if (c.handle) *c.handle = control;
        if (c.id == IDC_LANG) FillLanguageList();
    }
    for (const ControlSpec& c : MainWindowControls()) {
        if (c.uiFont) ApplyUiFont(*c.handle);
    }
}

void OnCreate(HWND window, const CREATESTRUCTW& creation) {
    CreateControls(window, creation.hInstance);
    AttachLogPane(window);
    AddTranscriptMenu(window);
    // The capture thread never touches a control: it only asks this thread to stop.
    g_capture.onStreamLost = [window] { PostMessageW(window, WM_APP_CAPTURE_LOST, 0, 0); };
    SetTimer(window, IDT_LEVEL, kLevelRefreshMs, nullptr);
    curl_global_init(CURL_GLOBAL_ALL);
}

// Every control moves by its placement; a missing control still takes its place in the
// top row, so the others keep theirs.
void LayOut(HWND window) {
    if (!g_hLogEdit) return;
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    int topRowX = -1;
    for (const ControlSpec& c : MainWindowControls()) {
        HWND control = c.handle ? *c.handle : nullptr;
        switch (c.placement) {
            case Placement::Fixed:
                break;
            case Placement::FollowEdges:
                if (control) MoveWindow(control, c.x, c.y, width - c.x - kEdgeMargin, height - c.y - kEdgeMargin, TRUE);
                break;
            case Placement::RightEdge: {
                // A narrow window squeezes the bar rather than putting it over the top row.
                const int x = std::max(width - c.width - kRightEdgeMargin, TopRowEnd());
                const int fitted = std::max(0, std::min(c.width, width - kRightEdgeMargin - x));
                if (control) MoveWindow(control, x, c.y, fitted, c.height, TRUE);
                break;
            }
            case Placement::TopRow:
                if (topRowX < 0) topRowX = c.x;
                if (control) MoveWindow(control, topRowX, c.y, c.width, c.height, TRUE);
                topRowX += c.width + c.gapAfter;
                break;
        }
    }
}

void OnStart() {
    if (g_isRecording) return;
    ReadLanguageSelection();
    ReadServerSettings();
    AppendLog("[Info] Using server: " + BuildServerUrl() + "\n");
    // In place before the first chunk can be cut; a start that fails leaves no file.
    std::string transcriptProblem;
    SetRecordingTranscript(OpenRecordingTranscript(transcriptProblem));
    if (!StartCapture(g_capture)) {
        SetRecordingTranscript(nullptr);
        AppendLog("[Error] WASAPI start failed\n");
        return;
    }
    g_isRecording = true;
    AppendLog("[Info] Recording started (WASAPI, language=" + g_language.Get() + "). Sending " +
              std::to_string(g_chunkSeconds.load()) + "s MP3 chunks to server...\n");
    if (!transcriptProblem.empty()) AppendLog(kTranscriptNotSaved + transcriptProblem + "\n");
}

// The recording's transcript closes once the chunks already cut have their lines.
void OnStop() {
    if (!g_isRecording) return;
    AppendLog("[Info] Stopping...\n");
    StopCapture(g_capture);
    SetRecordingTranscript(nullptr);
    g_isRecording = false;
}

// A lost stream ends the recording as Stop does, so that Start opens the device anew at
// once. A report that comes after Stop, or after Stop and a new Start, finds
// g_isRecording false or the flag cleared by that start, and does nothing.
void OnCaptureLost() {
    if (g_capture.streamLost) OnStop();
}

void OnCommand(WPARAM wParam) {
    const int id = LOWORD(wParam);
    const int notification = HIWORD(wParam);
    if (id == IDC_START) {
        OnStart();
    } else if (id == IDC_STOP) {
        OnStop();
    } else if (id == IDC_LANG && notification == CBN_SELCHANGE) {
        ReadLanguageSelection();
    }
}

// Capture first, so that no new worker is registered; then every worker is joined.
// Workers that log meanwhile only queue their text, so none of them waits for this
// thread; what they queued is appended before the pane goes.
void OnDestroy(HWND window) {
    const ULONGLONG captureDeadline = GetTickCount64() + kCloseCaptureLimitMs;
    KillTimer(window, IDT_LEVEL);
    if (g_isRecording) {
        AppendLog("[Info] Stopping audio...\n");
        StopCapture(g_capture);
        g_isRecording = false;
    }
    g_isShuttingDown = true;
    // A capture thread that outlasted a stop's wait gets until the deadline to end.
    const bool captureClosed = FinishCaptureStopBy(g_capture, captureDeadline);
    JoinAllWorkers();
    SetRecordingTranscript(nullptr);
    DetachLogPane();
    ReleaseUiFont();
    curl_global_cleanup();
    // A capture thread still running uses the stream, the pending queue, the settings
    // and the log. Returning from WinMain would release the stream and run the static
    // destructors under it, so the process ends here, as a successful run; TerminateProcess
    // runs no exit-time code at all.
    if (!captureClosed) TerminateProcess(GetCurrentProcess(), 0);
    PostQuitMessage(0);
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
            return 0;
        case WM_SIZE:
            LayOut(window);
            return 0;
        case WM_TIMER:
            if (wParam == IDT_LEVEL && g_hVolBar) InvalidateRect(g_hVolBar, nullptr, FALSE);
            return 0;
        case WM_COMMAND:
            OnCommand(wParam);
            return 0;
        case WM_APP_LOG_PENDING:
            FlushPendingLog();
            return 0;
        case WM_APP_CAPTURE_LOST:
            OnCaptureLost();
            return 0;
        case WM_SYSCOMMAND:
            if (OnTranscriptMenu(window, wParam)) return 0;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_DESTROY:
            OnDestroy(window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateMainWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 1200, 800, nullptr, nullptr, instance, nullptr);
}

int RunMessageLoop() {
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got == 0 ? static_cast<int>(message.wParam) : kMessageLoopFailedExitCode;
}
