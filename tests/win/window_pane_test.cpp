// The log pane of the test build, fed through the log from inside the program and
// read back from outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/win/hooked_app/test_hooks.h"
#include "tests/win/window_test_support.h"

namespace {

class PaneTest : public ::testing::Test {
protected:
    AppSession app{HookedProgram()};

    std::wstring WaitForPaneEnd(const std::wstring& end) {
        app.WaitForPane([&](const std::wstring& text) { return EndsWith(text, end); }, kPaneWait);
        return app.PaneText();
    }
};

TEST_F(PaneTest, AppendsFromManyThreadsStayWholeAndInOrder) {
    constexpr int kThreads = 8;
    constexpr int kLines = 150;
    // The window thread joins the threads while they append; had any of them to wait
    // for it, this would never answer.
    ASSERT_TRUE(AppendFromThreads(app, kThreads, kLines));
    ASSERT_TRUE(app.WaitForPane(
        [&](const std::wstring& text) {
            return std::count(text.begin(), text.end(), L'\n') >= kThreads * kLines;
        },
        kPaneWait));

    std::vector<int> nextLine(kThreads, 0);
    std::wistringstream lines(app.PaneText());
    std::wstring line;
    int count = 0;
    while (std::getline(lines, line)) {
        int thread = -1;
        int number = -1;
        ASSERT_EQ(swscanf(line.c_str(), L"[Info] thread %d line %d", &thread, &number), 2) << WideToUtf8(line);
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << WideToUtf8(line);
        EXPECT_EQ(line + L"\n", AsPaneLine(ThreadLine(thread, number))) << "not whole: " << WideToUtf8(line);
        EXPECT_EQ(number, nextLine[thread]) << "out of order in thread " << thread;
        nextLine[thread] = number + 1;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(PaneTest, ShowsChineseTextUnchanged) {
    ASSERT_TRUE(AppendLogBytes(app, "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C\r\n"));
    EXPECT_EQ(WaitForPaneEnd(L"\r\n"), L"\x4F60\x597D\xFF0C\x4E16\x754C\r\n");
}

TEST_F(PaneTest, ShowsAMalformedSequenceAsReplacementCharacterAndKeepsTheRest) {
    ASSERT_TRUE(AppendLogBytes(app, "ab\xFF" "cd\n"));
    EXPECT_EQ(WaitForPaneEnd(L"cd\r\n"), L"ab\xFFFD" L"cd\r\n");
}

TEST_F(PaneTest, ShowsEveryLineOnItsOwnLine) {
    ASSERT_TRUE(AppendLogBytes(app, "[Info] first\n"));
    ASSERT_TRUE(AppendLogBytes(app, "a transcript\r\n"));
    ASSERT_TRUE(AppendLogBytes(app, "[Warn] third\n"));
    EXPECT_EQ(WaitForPaneEnd(L"third\r\n"), PaneLines({L"[Info] first", L"a transcript", L"[Warn] third"}));
    EXPECT_EQ(SendTimed(app.Pane(), EM_GETLINECOUNT, 0, 0), 4);  // three lines and the empty last one
}

TEST_F(PaneTest, EmptyTextChangesNothing) {
    ASSERT_TRUE(AppendLogBytes(app, "[Info] only\n"));
    ASSERT_TRUE(AppendLogBytes(app, ""));
    ASSERT_TRUE(AppendLogBytes(app, "[Info] after\n"));
    EXPECT_EQ(WaitForPaneEnd(L"after\r\n"), PaneLines({L"[Info] only", L"[Info] after"}));
}

TEST_F(PaneTest, KeepsShowingNewTextBeyondTheEditControlsDefaultLimit) {
    const std::string filler(990, 'x');
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(AppendLogBytes(app, "line " + std::to_string(i) + " " + filler + "\n"));
    const std::wstring text = WaitForPaneEnd(L"line 49 " + Utf8ToWide(filler) + L"\r\n");
    EXPECT_TRUE(EndsWith(text, L"line 49 " + Utf8ToWide(filler) + L"\r\n"));
    EXPECT_GT(text.size(), 45000u);
    EXPECT_EQ(text.rfind(L"line 0 ", 0), 0u);  // nothing dropped yet
}

}  // namespace
