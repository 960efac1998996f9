// The log pane of the main window: the sink that shows AppendLog's text, and the
// shared UI font.
//
// Text reaches the pane without any thread waiting for the window thread: the sink
// (run under g_logMutex) queues the converted text; on the window thread it empties
// the queue into the pane at once, from any other thread it posts one wake-up,
// WM_APP_LOG_PENDING, to the main window, which then empties the queue. Appends stay
// whole and in the order in which their callers took g_logMutex.
#pragma once

#include <windows.h>

#include <string>

// Sent (posted) to the main window when text from another thread waits in the queue.
constexpr UINT WM_APP_LOG_PENDING = WM_APP + 1;

// Gives `control` (may be null) the shared UI font, creating the font on first use.
void ApplyUiFont(HWND control);
// At close: deletes the UI font, if it was made.
void ReleaseUiFont();

// Window thread. Makes g_hLogEdit the log's sink; `mainWindow` receives the wake-ups.
void AttachLogPane(HWND mainWindow);
// Window thread. Appends everything queued so far to the pane.
void FlushPendingLog();
// Window thread, at close. Appends what is still queued and removes the sink, so
// later text is dropped as if there were no pane.
void DetachLogPane();
