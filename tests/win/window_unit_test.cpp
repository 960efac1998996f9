// The window code inside the test process, where a test can reach what no outside
// driver can: a missing control, a text that is no language code, the queue of the
// log pane before the window thread has served it, the font's attributes.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "core/log_core.h"
#include "core/settings.h"
#include "app/win/level_meter_win.h"
#include "app/win/log_pane_win.h"
#include "app/win/main_window.h"
#include "core/win/text_conversion.h"
#include "app/win/settings_controls.h"
#include "app/win/transcript_menu.h"
#include "transcribe/chunk_job.h"

namespace {

TEST(TextConversion, EmptyGivesEmpty) {
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(TextConversion, ChineseAndEmbeddedNulRoundTrip) {
    const std::string utf8("\xE4\xBD\xA0\xE5\xA5\xBD\0end", 10);
    const std::wstring wide(L"\x4F60\x597D\0end", 6);
    EXPECT_EQ(Utf8ToWide(utf8), wide);
    EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextConversion, MalformedInputBecomesReplacementCharacter) {
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\xFFFD" L"b");
    EXPECT_EQ(WideToUtf8(std::wstring(L"a\xD800" L"b")), "a\xEF\xBF\xBD" "b");  // unpaired surrogate
}

TEST(UiFont, FirstCallCreatesItEvenWithoutAControlAndLaterCallsShareIt) {
    ASSERT_EQ(g_hUiFont, nullptr);
    ApplyUiFont(nullptr);
    const HFONT font = g_hUiFont;
    ASSERT_NE(font, nullptr);

    LOGFONTW attributes = {};
    ASSERT_EQ(GetObjectW(font, sizeof(attributes), &attributes), static_cast<int>(sizeof(attributes)));
    EXPECT_EQ(attributes.lfHeight, 20);
    EXPECT_EQ(attributes.lfWidth, 0);
    EXPECT_EQ(attributes.lfWeight, FW_NORMAL);
    EXPECT_FALSE(attributes.lfItalic || attributes.lfUnderline || attributes.lfStrikeOut);
    EXPECT_EQ(attributes.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(attributes.lfQuality, CLEARTYPE_QUALITY);
    EXPECT_EQ(attributes.lfPitchAndFamily, DEFAULT_PITCH | FF_DONTCARE);
    EXPECT_STREQ(attributes.lfFaceName, L"Microsoft YaHei UI");

    HWND first = CreateWindowExW(0, L"STATIC", L"a", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND second = CreateWindowExW(0, L"EDIT", L"b", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ApplyUiFont(first);
    ApplyUiFont(second);
    EXPECT_EQ(g_hUiFont, font);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(first, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(second, WM_GETFONT, 0, 0)), font);
    DestroyWindow(first);
    DestroyWindow(second);
    ReleaseUiFont();
    EXPECT_EQ(g_hUiFont, nullptr);
}

TEST(LevelBarClass, IsRegisteredWithItsFields) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterVolBarClass(instance);
    WNDCLASSW fields = {};
    ASSERT_TRUE(GetClassInfoW(instance, L"VolBarClass", &fields));
    EXPECT_EQ(fields.style, 0u);
    EXPECT_EQ(fields.lpfnWndProc, VolBarWndProc);
    EXPECT_EQ(fields.cbClsExtra, 0);
    EXPECT_EQ(fields.cbWndExtra, 0);
    EXPECT_EQ(fields.hIcon, nullptr);
    EXPECT_EQ(fields.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(fields.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
}

TEST(LevelBarClass, EraseBackgroundPaintsNothing) {
    RegisterVolBarClass(GetModuleHandleW(nullptr));
    HWND bar = CreateWindowExW(0, L"VolBarClass", L"", 0, 0, 0, 300, 16, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(bar);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetPixel(memory, 1, 1, RGB(1, 2, 3));
    EXPECT_EQ(SendMessageW(bar, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0), 1);
    EXPECT_EQ(GetPixel(memory, 1, 1), RGB(1, 2, 3));
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    DestroyWindow(bar);
}

// The real main window, created (not shown) on this test's thread, which is then
// its window thread.
class InProcessWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = CreateMainWindow(GetModuleHandleW(nullptr));
        ASSERT_TRUE(window);
        ASSERT_TRUE(g_hLogEdit);
    }

    void TearDown() override {
        if (window) DestroyWindow(window);
        ServeMessages();  // takes the quit message the close posts
        g_isShuttingDown = false;
        g_serverHost.Set(kDefaultServerHost);
        g_serverPort = kDefaultServerPort;
        g_chunkSeconds = kDefaultChunkSeconds;
        g_language.Set("zh");
    }

    static void ServeMessages() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }

    static std::wstring Pane() {
        const int length = GetWindowTextLengthW(g_hLogEdit);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(g_hLogEdit, text.data(), length + 1)));
        return text;
    }

    HWND window = nullptr;
};

TEST_F(InProcessWindowTest, NineControlsShareTheUiFontAndTheRestKeepTheSystemFont) {
    ASSERT_TRUE(g_hUiFont);
    const auto fontOf = [](HWND control) { return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)); };
    for (HWND control : {g_hLogEdit, g_hServerEdit, g_hPortEdit, g_hChunkEdit, g_hLangCombo, g_hServerLabel,
                         g_hPortLabel, g_hChunkLabel, g_hLangLabel}) {
        EXPECT_EQ(fontOf(control), g_hUiFont);
    }
    EXPECT_NE(fontOf(g_hVolBar), g_hUiFont);
    EXPECT_NE(fontOf(GetDlgItem(window, IDC_START)), g_hUiFont);
    EXPECT_NE(fontOf(GetDlgItem(window, IDC_STOP)), g_hUiFont);
}

TEST_F(InProcessWindowTest, TranscriptChoiceIsInTheSystemMenuCheckedUnlessTurnedOff) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kKeepTranscriptsValue);
    for (bool keep : {true, false}) {
        DestroyWindow(window);  // a new window reads the kept choice
        ServeMessages();
        window = CreateMainWindow(GetModuleHandleW(nullptr));
        HMENU menu = GetSystemMenu(window, FALSE);
        wchar_t keepText[64] = {}, openText[64] = {};
        GetMenuStringW(menu, IDM_KEEP_TRANSCRIPTS, keepText, 64, MF_BYCOMMAND);
        GetMenuStringW(menu, IDM_OPEN_TRANSCRIPTS, openText, 64, MF_BYCOMMAND);
        EXPECT_STREQ(keepText, L"Keep transcripts");
        EXPECT_STREQ(openText, L"Open transcripts folder");
        EXPECT_EQ((GetMenuState(menu, IDM_KEEP_TRANSCRIPTS, MF_BYCOMMAND) & MF_CHECKED) != 0, keep);
        SendMessageW(window, WM_SYSCOMMAND, IDM_KEEP_TRANSCRIPTS, 0);
        EXPECT_EQ((GetMenuState(menu, IDM_KEEP_TRANSCRIPTS, MF_BYCOMMAND) & MF_CHECKED) != 0, !keep);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kKeepTranscriptsValue);
}

TEST_F(InProcessWindowTest, WindowThreadTextShowsAtOnce) {
    AppendLog("[Info] here\n");
    EXPECT_EQ(Pane(), L"[Info] here\r\n");
}

TEST_F(InProcessWindowTest, OtherThreadsDoNotWaitForTheWindowThreadAndKeepTheirOrder) {
    // This thread serves no messages while the worker appends: the worker still ends.
    std::thread([] { AppendLog("from a worker\r\n"); }).join();
    EXPECT_EQ(Pane(), L"");
    // A window-thread append shows what was queued before it first.
    AppendLog("[Info] from the window\n");
    EXPECT_EQ(Pane(), L"from a worker\r\n[Info] from the window\r\n");

    std::thread([] { AppendLog("later\n"); }).join();
    ServeMessages();  // the wake-up
    EXPECT_EQ(Pane(), L"from a worker\r\n[Info] from the window\r\nlater\r\n");
}

TEST_F(InProcessWindowTest, FullPaneDropsItsOldestWholeLines) {
    // Lines of 100 units with their CR LF; 4,500,000 units pass the capacity of 4,000,000.
    const auto line = [](int n) {
        std::string number = std::to_string(n);
        return "line " + std::string(8 - number.size(), '0') + number + std::string(85, '.') + "\n";
    };
    constexpr int kLines = 45000;
    std::string batch;
    for (int n = 0; n < kLines; ++n) {
        batch += line(n);
        if (batch.size() >= 100000) {
            AppendLog(batch);
            batch.clear();
        }
    }
    AppendLog(batch);
    const std::wstring text = Pane();
    EXPECT_LE(text.size(), 4000000u);
    EXPECT_GE(text.size(), 2900000u);
    ASSERT_EQ(text.size() % 100, 0u);
    int first = -1;
    ASSERT_EQ(swscanf(text.c_str(), L"line %d", &first), 1);
    EXPECT_EQ(text.size() / 100, static_cast<std::size_t>(kLines - first));  // nothing after the cut is missing
    std::string last = line(kLines - 1);
    last.insert(last.size() - 1, "\r");
    EXPECT_EQ(WideToUtf8(text.substr(text.size() - 100)), last);
}

TEST_F(InProcessWindowTest, OversizedAppendKeepsItsFirstLineAndItsNewestPart) {
    std::string huge = "[Error] POST failed: HTTP 500: <html>\n";
    for (int n = 0; n < 35000; ++n) huge += "line " + std::to_string(n) + std::string(80, '.') + "\n";
    huge += "the end\n";
    AppendLog("[Info] before\n");
    AppendLog(huge);
    const std::wstring text = Pane();
    // Cut to at most 3,000,000 units, which fit beside what the pane held.
    EXPECT_LE(text.size(), 15u + 3000000u);
    EXPECT_GT(text.size(), 2900000u);
    const std::wstring start =
        L"[Info] before\r\n[Error] POST failed: HTTP 500: <html>\r\n[... text left out ...]\r\n";
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_EQ(text.substr(text.size() - 12), L".\r\nthe end\r\n");
}

TEST_F(InProcessWindowTest, MissingPortFieldStoresTheDefaultPort) {
    g_serverPort = 9000;
    HWND field = g_hPortEdit;
    g_hPortEdit = nullptr;
    ReadServerSettings();
    g_hPortEdit = field;
    EXPECT_EQ(g_serverPort.load(), 8080);
}

TEST_F(InProcessWindowTest, MissingHostAndChunkFieldsLeaveTheirSettings) {
    g_serverHost.Set("kept.example");
    g_chunkSeconds = 12;
    HWND host = g_hServerEdit;
    HWND chunk = g_hChunkEdit;
    g_hServerEdit = nullptr;
    g_hChunkEdit = nullptr;
    ReadServerSettings();
    g_hServerEdit = host;
    g_hChunkEdit = chunk;
    EXPECT_EQ(g_serverHost.Get(), "kept.example");
    EXPECT_EQ(g_chunkSeconds.load(), 12);
}

TEST_F(InProcessWindowTest, LanguageStaysWithoutSelectionOrForAnUnknownItem) {
    g_language.Set("en");
    SendMessageW(g_hLangCombo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ReadLanguageSelection();
    EXPECT_EQ(g_language.Get(), "en");

    const std::wstring longItem(40, L'z');
    for (const wchar_t* item : {L"EN", L"zh ", longItem.c_str()}) {
        const LRESULT index = SendMessageW(g_hLangCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        SendMessageW(g_hLangCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ReadLanguageSelection();
        EXPECT_EQ(g_language.Get(), "en") << WideToUtf8(item);
    }
    SendMessageW(g_hLangCombo, CB_SETCURSEL, 2, 0);
    ReadLanguageSelection();
    EXPECT_EQ(g_language.Get(), "zh");
}

}  // namespace
