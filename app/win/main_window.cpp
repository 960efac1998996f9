// curl.h brings winsock2.h, which has to come before windows.h.
#include <curl/curl.h>

#include "app/win/main_window.h"

#include <string>

#include "app/log_pane.h"
#include "app/settings.h"
#include "app/win/level_meter_win.h"
#include "app/win/log_pane_win.h"
#include "app/win/settings_controls.h"
#include "audio/win/capture_stream.h"
#include "transcribe/chunk_job.h"

std::atomic<bool> g_isRecording{false};

HWND g_hServerLabel = nullptr;
HWND g_hPortLabel = nullptr;
HWND g_hChunkLabel = nullptr;
HWND g_hLangLabel = nullptr;

namespace {

constexpr UINT kLevelRefreshMs = 33;

HWND CreateChild(HWND parent, HINSTANCE instance, const wchar_t* className, const wchar_t* text, DWORD style,
                 DWORD exStyle, int x, int y, int width, int height, int id) {
    return CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void FillLanguageList() {
    if (!g_hLangCombo) return;
    for (const wchar_t* code : {L"auto", L"en", L"zh"}) {
        SendMessageW(g_hLangCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(code));
    }
    SendMessageW(g_hLangCombo, CB_SETCURSEL, 2, 0);  // "zh"
}

void CreateControls(HWND window, HINSTANCE instance) {
    RegisterVolBarClass(instance);

    g_hLogEdit = CreateChild(window, instance, L"EDIT", L"",
                             WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, WS_EX_CLIENTEDGE, 10, 80,
                             860, 490, 0);
    g_hVolBar = CreateChild(window, instance, L"VolBarClass", L"", 0, 0, 700, 14, 300, 16, 0);
    g_hServerLabel = CreateChild(window, instance, L"STATIC", L"Server:", 0, 0, 300, 14, 56, 22, 0);
    g_hServerEdit = CreateChild(window, instance, L"EDIT", L"127.0.0.1", ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 362,
                                12, 160, 24, IDC_SERVER);
    g_hPortLabel = CreateChild(window, instance, L"STATIC", L"Port:", 0, 0, 0, 14, 40, 22, 0);
    g_hPortEdit = CreateChild(window, instance, L"EDIT", L"8080", ES_AUTOHSCROLL | ES_NUMBER, WS_EX_CLIENTEDGE, 0,
                              12, 60, 24, IDC_PORT);
    g_hChunkLabel = CreateChild(window, instance, L"STATIC", L"Chunk(s):", 0, 0, 0, 14, 68, 22, 0);
    g_hChunkEdit = CreateChild(window, instance, L"EDIT", L"7", ES_AUTOHSCROLL | ES_NUMBER, WS_EX_CLIENTEDGE, 0,
                               12, 40, 24, IDC_CHUNK);
    g_hLangLabel = CreateChild(window, instance, L"STATIC", L"LANG:", 0, 0, 0, 14, 44, 22, 0);
    g_hLangCombo = CreateChild(window, instance, L"COMBOBOX", L"", CBS_DROPDOWNLIST, 0, 0, 10, 100, 200, IDC_LANG);
    FillLanguageList();
    CreateChild(window, instance, L"BUTTON", L"Start", BS_DEFPUSHBUTTON, 0, 10, 10, 160, 30, IDC_START);
    CreateChild(window, instance, L"BUTTON", L"Stop", BS_PUSHBUTTON, 0, 180, 10, 100, 30, IDC_STOP);

    for (HWND control : {g_hLogEdit, g_hServerEdit, g_hPortEdit, g_hChunkEdit, g_hLangCombo, g_hServerLabel,
                         g_hPortLabel, g_hChunkLabel, g_hLangLabel}) {
        ApplyUiFont(control);
    }
}

void OnCreate(HWND window, const CREATESTRUCTW& creation) {
    CreateControls(window, creation.hInstance);
    AttachLogPane(window);
    SetTimer(window, IDT_LEVEL, kLevelRefreshMs, nullptr);
    curl_global_init(CURL_GLOBAL_ALL);
}

// The top row runs from x 300, each control followed by a gap of 6 after a label and
// 12 after a field; a missing control still takes its place.
void LayOut(HWND window) {
    if (!g_hLogEdit) return;
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    MoveWindow(g_hLogEdit, 10, 80, width - 20, height - 90, TRUE);

    struct TopRowPlace {
        HWND control;
        int y, width, height, gap;
    };
    const TopRowPlace topRow[] = {
        {g_hServerLabel, 14, 56, 22, 6}, {g_hServerEdit, 12, 160, 24, 12}, {g_hPortLabel, 14, 40, 22, 6},
        {g_hPortEdit, 12, 60, 24, 12},   {g_hChunkLabel, 14, 68, 22, 6},   {g_hChunkEdit, 12, 40, 24, 12},
        {g_hLangLabel, 14, 44, 22, 6},   {g_hLangCombo, 10, 100, 200, 0},
    };
    int x = 300;
    for (const TopRowPlace& place : topRow) {
        if (place.control) MoveWindow(place.control, x, place.y, place.width, place.height, TRUE);
        x += place.width + place.gap;
    }
    if (g_hVolBar) MoveWindow(g_hVolBar, width - 320, 14, 300, 16, TRUE);
}

void OnStart() {
    if (g_isRecording) return;
    ReadLanguageSelection();
    ReadServerSettings();
    AppendLog("[Info] Using server: " + BuildServerUrl() + "\n");
    if (!StartCapture(g_capture)) {
        AppendLog("[Error] WASAPI start failed\n");
        return;
    }
    g_isRecording = true;
    AppendLog("[Info] Recording started (WASAPI, language=" + g_language.Get() + "). Sending " +
              std::to_string(g_chunkSeconds.load()) + "s MP3 chunks to server...\n");
}

void OnStop() {
    if (!g_isRecording) return;
    AppendLog("[Info] Stopping...\n");
    StopCapture(g_capture);
    g_isRecording = false;
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
    DetachLogPane();
    if (g_hUiFont) {
        DeleteObject(g_hUiFont);
        g_hUiFont = nullptr;
    }
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
