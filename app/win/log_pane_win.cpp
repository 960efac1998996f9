#include "app/win/log_pane_win.h"

#include <utility>

#include "app/pane_text.h"
#include "app/win/window_state.h"
#include "core/log_core.h"
#include "core/win/text_conversion.h"

namespace {

// A multi-line edit control silently refuses text beyond its limit (about 30,000
// characters by default), which would lose transcripts after an hour or so. The pane
// keeps up to kPaneCapacity UTF-16 units (about 8 MB, days of transcripts); when an
// append would pass that, the oldest whole lines go until kPaneTrimTarget units
// remain, so trimming happens once per megabyte of text, not on every append.
constexpr std::size_t kPaneCapacity = 4'000'000;
constexpr std::size_t kPaneTrimTarget = 3'000'000;

// Text waiting for the window thread. Everything here is guarded by g_logMutex.
struct PendingPaneText {
    HWND mainWindow = nullptr;
    DWORD windowThreadId = 0;
    std::wstring text;
    bool endsInCr = false;     // of the last text queued, for the line-end conversion
    bool wakeUpPosted = false;
};
PendingPaneText g_pending;

std::wstring PaneContents(int length) {
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(g_hLogEdit, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

void ReplacePaneRange(int start, int end, const wchar_t* text) {
    SendMessageW(g_hLogEdit, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    SendMessageW(g_hLogEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

// Removes the oldest whole lines so that `incoming` more units fit.
void MakeRoom(std::size_t incoming) {
    const int length = GetWindowTextLengthW(g_hLogEdit);
    if (length <= 0 || static_cast<std::size_t>(length) + incoming <= kPaneCapacity) return;
    const std::size_t excess = static_cast<std::size_t>(length) + incoming - kPaneTrimTarget;
    const std::size_t cut = PaneTrimLength(PaneContents(length), excess);
    ReplacePaneRange(0, static_cast<int>(cut), L"");
}

// Window thread, g_logMutex held.
void AppendQueuedText() {
    std::wstring text;
    text.swap(g_pending.text);
    g_pending.wakeUpPosted = false;
    if (text.empty() || !g_hLogEdit) return;
    text = FitPaneText(std::move(text), kPaneTrimTarget);  // many appends queued while the window thread was busy
    MakeRoom(text.size());
    const int length = GetWindowTextLengthW(g_hLogEdit);
    ReplacePaneRange(length, length, text.c_str());
}

// The log's sink; runs with g_logMutex held, on any thread.
void QueueForPane(const std::string& utf8) {
    // Fitted one by one, so that every oversized append keeps its own first line.
    g_pending.text += FitPaneText(ToPaneText(Utf8ToWide(utf8), g_pending.endsInCr), kPaneTrimTarget);
    if (GetCurrentThreadId() == g_pending.windowThreadId) {
        AppendQueuedText();
    } else if (!g_pending.wakeUpPosted) {
        // A refused post (queue full) is retried by the next append.
        g_pending.wakeUpPosted = PostMessageW(g_pending.mainWindow, WM_APP_LOG_PENDING, 0, 0) != FALSE;
    }
}

}  // namespace

void ApplyUiFont(HWND control) {
    if (!g_hUiFont) {
        g_hUiFont = CreateFontW(20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                L"Microsoft YaHei UI");
    }
    if (g_hUiFont && control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_hUiFont), TRUE);
}

void ReleaseUiFont() {
    if (!g_hUiFont) return;
    DeleteObject(g_hUiFont);
    g_hUiFont = nullptr;
}

void AttachLogPane(HWND mainWindow) {
    if (!g_hLogEdit) return;
    SendMessageW(g_hLogEdit, EM_SETLIMITTEXT, kPaneCapacity, 0);
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_pending.mainWindow = mainWindow;
        g_pending.windowThreadId = GetCurrentThreadId();
    }
    SetLogSink(QueueForPane);
}

void FlushPendingLog() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    AppendQueuedText();
}

void DetachLogPane() {
    SetLogSink(nullptr);  // nothing is queued after this
    FlushPendingLog();
}
