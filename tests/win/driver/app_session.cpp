#include "tests/win/driver/app_session.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(30);

bool SameTextIgnoringCase(const std::wstring& a, const wchar_t* b) { return lstrcmpiW(a.c_str(), b) == 0; }

}  // namespace

std::wstring WindowsPath(const std::string& path) {
    std::wstring wide = Utf8ToWide(path);
    if (!wide.empty() && wide[0] == L'/') {
        std::replace(wide.begin(), wide.end(), L'/', L'\\');
        wide = L"Z:" + wide;
    }
    return wide;
}

AppSession::AppSession(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
        throw std::runtime_error("cannot start " + WideToUtf8(program) + ", error " + std::to_string(GetLastError()));
    }
    started_ = true;
    const bool shown = WaitUntil(
        [&] {
            window_ = FindTopLevelWindow(process_.dwProcessId, kMainClassName);
            return window_ && IsWindowVisible(window_);
        },
        kStartTimeout);
    if (!shown) {
        TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        throw std::runtime_error("no main window from " + WideToUtf8(program));
    }
}

AppSession::AppSession(HWND mainWindow) : window_(mainWindow) {
    GetWindowThreadProcessId(mainWindow, &process_.dwProcessId);
    process_.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_.dwProcessId);
}

AppSession::~AppSession() {
    if (started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    if (process_.hThread) CloseHandle(process_.hThread);
    if (process_.hProcess) CloseHandle(process_.hProcess);
}

HWND AppSession::Control(const wchar_t* className, int id, const wchar_t* text) const {
    for (const ControlInfo& child : ListChildren(window_)) {
        if (SameTextIgnoringCase(child.className, className) && child.id == id && (!text || child.text == text)) {
            return child.handle;
        }
    }
    return nullptr;
}

HWND AppSession::Pane() const { return Control(L"Edit", 0); }

HWND AppSession::LevelBar() const { return Control(L"VolBarClass", 0); }

bool AppSession::Press(int controlId) {
    HWND button = Control(L"Button", controlId);
    return button && SendTimed(window_, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                               reinterpret_cast<LPARAM>(button), 60000);
}

bool AppSession::Type(int controlId, const std::wstring& text) {
    HWND field = Control(L"Edit", controlId);
    return field && SetWindowTextTo(field, text);
}

bool AppSession::SelectLanguage(int index) {
    HWND list = Control(L"ComboBox", 3);
    if (!list) return false;
    const auto selected = SendTimed(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (!selected || *selected != index) return false;
    return SendTimed(window_, WM_COMMAND, MAKEWPARAM(3, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list)).has_value();
}

bool AppSession::ResizeClient(int width, int height) {
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    if (!SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        return false;
    }
    return WaitUntil(
        [&] {
            const RECT client = ClientRectOf(window_);
            return client.right == width && client.bottom == height;
        },
        std::chrono::seconds(10));
}

std::wstring AppSession::PaneText() const { return WindowText(Pane()); }

bool AppSession::WaitForPane(const std::function<bool(const std::wstring&)>& done,
                             std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return done(PaneText()); }, timeout);
}

void AppSession::Close() { PostMessageW(window_, WM_CLOSE, 0, 0); }

bool AppSession::WaitForExit(std::chrono::milliseconds timeout, DWORD* exitCode) {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(process_.hProcess, exitCode);
    return true;
}
