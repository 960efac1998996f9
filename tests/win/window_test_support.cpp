#include "tests/win/window_test_support.h"

#include <cstring>
#include <cstdlib>

#include "tests/win/hooked_app/test_hooks.h"

namespace {
std::wstring g_liveProgram;
std::wstring g_hookedProgram;
}  // namespace

const std::wstring& LiveProgram() { return g_liveProgram; }
const std::wstring& HookedProgram() { return g_hookedProgram; }

bool AudioServerAvailable() {
    const char* server = std::getenv("PULSE_SERVER");
    const std::string prefix = "unix:";
    if (!server || std::string(server).rfind(prefix, 0) != 0) return false;
    // Wine shows no attributes for a socket itself, so the folder holding it is tested.
    std::wstring socket = WindowsPath(server + prefix.size());
    socket.erase(socket.find_last_of(L'\\'));
    return GetFileAttributesW(socket.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring PaneLines(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const std::wstring& line : lines) text += line + L"\r\n";
    return text;
}

std::wstring AsPaneLine(const std::string& line) {
    std::wstring wide = Utf8ToWide(line);
    if (!wide.empty() && wide.back() == L'\n') wide.insert(wide.size() - 1, L"\r");
    return wide;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool SetLevel(const AppSession& app, float levelDb) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &levelDb, sizeof(bits));
    return SendTimed(app.MainWindow(), kHookSetLevel, bits, 0) == 1;
}

bool AppendLogBytes(const AppSession& app, const std::string& bytes) {
    COPYDATASTRUCT data = {kCopyDataAppendLog, static_cast<DWORD>(bytes.size()), const_cast<char*>(bytes.data())};
    return SendTimed(app.MainWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), 60000) == TRUE;
}

bool AppendFromThreads(const AppSession& app, int threads, int lines) {
    return SendTimed(app.MainWindow(), kHookAppendFromThreads, static_cast<WPARAM>(threads), lines, 60000) == 1;
}

bool LaunchSilentChunks(const AppSession& app, int chunks, int samplesEach) {
    return SendTimed(app.MainWindow(), kHookLaunchChunks, static_cast<WPARAM>(chunks), samplesEach) == 1;
}

bool HoldCaptureThread(const AppSession& app) {
    return SendTimed(app.MainWindow(), kHookHoldCaptureThread, 0, 0, 10000) == 1;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_test PATH/valdrin-live.exe PATH/valdrin-live-hooked.exe [gtest flags]\n");
        return 2;
    }
    g_liveProgram = WindowsPath(argv[1]);
    g_hookedProgram = WindowsPath(argv[2]);
    return RUN_ALL_TESTS();
}
