// One run of the program under test, started and driven from outside through its
// window, as a user would: buttons pressed with WM_COMMAND, fields typed with
// WM_SETTEXT, the log pane read with WM_GETTEXT.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "tests/win/driver/window_probe.h"

constexpr const wchar_t* kMainClassName = L"ValdrinWASAPIWnd";

// A Windows path for a program given either way; "/unix/path" becomes "Z:\unix\path".
std::wstring WindowsPath(const std::string& path);

class AppSession {
public:
    // Starts `program` with `arguments` and waits until its main window exists.
    // Throws std::runtime_error when the program does not start or shows no window.
    explicit AppSession(const std::wstring& program, const std::wstring& arguments = L"");
    ~AppSession();  // ends a program it started if that is still running
    AppSession(const AppSession&) = delete;
    AppSession& operator=(const AppSession&) = delete;

    // Attaches to a main window that is already running (for the console driver).
    explicit AppSession(HWND mainWindow);

    HWND MainWindow() const { return window_; }
    // The child of class `className` (compared without case) with control id `id`
    // and, when given, text `text`; null when there is none.
    HWND Control(const wchar_t* className, int id, const wchar_t* text = nullptr) const;
    HWND Pane() const;
    HWND LevelBar() const;

    bool Press(int controlId);                       // WM_COMMAND BN_CLICKED
    bool Type(int controlId, const std::wstring& text);  // WM_SETTEXT on an edit field
    bool SelectLanguage(int index);                  // CB_SETCURSEL + CBN_SELCHANGE
    bool ResizeClient(int width, int height);

    std::wstring PaneText() const;
    // Waits until `done` holds for the pane's text; false after `timeout`.
    bool WaitForPane(const std::function<bool(const std::wstring&)>& done,
                     std::chrono::milliseconds timeout) const;

    void Close();  // posts WM_CLOSE, as the close box does
    // Waits for the program to end; false after `timeout`.
    bool WaitForExit(std::chrono::milliseconds timeout, DWORD* exitCode = nullptr);

private:
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;  // by this session, rather than attached to
    HWND window_ = nullptr;
};
