// valdrin-drive: drives a running Valdrin Live window from a console, one command per
// run, for scripts and for looking at the window by hand. Output is UTF-8 on stdout.
//
//   dump                    class, title and every control (class|id|style|exstyle|x,y,w,h|text)
//   type FIELD TEXT         sets the text of an edit field: server, port or chunk
//   press BUTTON            presses a button: start or stop
//   lang CODE               selects a language code in the list as the user would
//   resize WIDTH HEIGHT     gives the main window this client size
//   pane                    prints the log pane's text
//   bar                     prints the level bar's width in pixels, measured on screen
//   close                   closes the window and waits until the program has ended
//   level DB                test build only: stores DB into the measured level
//   append TEXT             test build only: appends TEXT (plus a line feed) to the log
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/win/window_state.h"
#include "core/settings.h"

#include "tests/win/driver/app_session.h"
#include "tests/win/driver/level_bar_probe.h"
#include "tests/win/hooked_app/test_hooks.h"

namespace {

void Print(const std::wstring& text) {
    const std::string utf8 = WideToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

void Dump(const AppSession& app) {
    Print(ClassNameOf(app.MainWindow()) + L"|" + WindowText(app.MainWindow()) + L"\n");
    for (const ControlInfo& c : ListChildren(app.MainWindow())) {
        wchar_t line[160];
        swprintf(line, 160, L"%ls|%d|%08lx|%08lx|%ld,%ld,%ld,%ld|", c.className.c_str(), c.id, c.style, c.exStyle,
                 c.rect.left, c.rect.top, c.rect.right - c.rect.left, c.rect.bottom - c.rect.top);
        Print(line + c.text + L"\n");
    }
}

// The controls' ids by the names commands give them; -1 for an unknown name.
int ControlId(const std::wstring& name) {
    static const std::map<std::wstring, int> ids = {
        {L"start", IDC_START}, {L"stop", IDC_STOP}, {L"server", IDC_SERVER}, {L"port", IDC_PORT}, {L"chunk", IDC_CHUNK},
    };
    const auto found = ids.find(name);
    return found == ids.end() ? -1 : found->second;
}

// The list shows the codes in the order of kLanguages; -1 for a code it does not hold.
int LanguageIndex(const std::wstring& code) {
    const auto found = std::find_if(kLanguages.begin(), kLanguages.end(),
                                    [&](const char* language) { return Utf8ToWide(language) == code; });
    return found == kLanguages.end() ? -1 : static_cast<int>(found - kLanguages.begin());
}

bool SetLevel(HWND window, float level) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &level, sizeof(bits));
    return SendTimed(window, kHookSetLevel, bits, 0) == 1;
}

bool AppendText(HWND window, const std::string& utf8) {
    COPYDATASTRUCT data = {kCopyDataAppendLog, static_cast<DWORD>(utf8.size()), const_cast<char*>(utf8.data())};
    return SendTimed(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) == TRUE;
}

bool Run(AppSession& app, const std::vector<std::wstring>& args) {
    const std::wstring& command = args[0];
    const auto has = [&](std::size_t count) { return args.size() == count + 1; };
    if (command == L"dump" && has(0)) return Dump(app), true;
    if (command == L"type" && has(2) && ControlId(args[1]) > 0) return app.Type(ControlId(args[1]), args[2]);
    if (command == L"press" && has(1) && ControlId(args[1]) > 0) return app.Press(ControlId(args[1]));
    if (command == L"lang" && has(1) && LanguageIndex(args[1]) >= 0) return app.SelectLanguage(LanguageIndex(args[1]));
    if (command == L"resize" && has(2)) return app.ResizeClient(std::stoi(args[1]), std::stoi(args[2]));
    if (command == L"pane" && has(0)) return Print(app.PaneText()), true;
    if (command == L"bar" && has(0)) {
        Print(std::to_wstring(MeasureBarWidth(GrabClientPixels(app.LevelBar()))) + L"\n");
        return true;
    }
    if (command == L"close" && has(0)) return app.Close(), app.WaitForExit(std::chrono::seconds(60));
    if (command == L"level" && has(1)) return SetLevel(app.MainWindow(), std::stof(args[1]));
    if (command == L"append" && has(1)) return AppendText(app.MainWindow(), WideToUtf8(args[1]) + "\n");
    std::fprintf(stderr, "unknown command or wrong arguments; see the comment at the top of drive_main.cpp\n");
    return false;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return 2;
    const std::vector<std::wstring> args(argv + 1, argv + count);
    _setmode(_fileno(stdout), _O_BINARY);  // the pane's CR LF pass through unchanged
    LocalFree(argv);
    if (args.empty()) {
        std::fprintf(stderr, "usage: valdrin-drive COMMAND [ARGUMENTS]\n");
        return 2;
    }
    HWND window = FindWindowW(kMainClassName, nullptr);
    if (!window) {
        std::fprintf(stderr, "no Valdrin Live window found\n");
        return 1;
    }
    AppSession app(window);
    try {
        return Run(app, args) ? 0 : 1;
    } catch (const std::exception&) {  // a number that does not parse
        std::fprintf(stderr, "bad number in the arguments\n");
        return 2;
    }
}
