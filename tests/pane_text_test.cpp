#include <gtest/gtest.h>

#include "app/pane_text.h"

namespace {

std::wstring Convert(const std::wstring& text) {
    bool endsInCr = false;
    return ToPaneText(text, endsInCr);
}

TEST(ToPaneText, EveryLineEndsInCrLf) {
    EXPECT_EQ(Convert(L"[Info] Stopping...\n"), L"[Info] Stopping...\r\n");
    EXPECT_EQ(Convert(L"transcript\r\n"), L"transcript\r\n");
    EXPECT_EQ(Convert(L"a\nb\r\nc\n\n"), L"a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(Convert(L"no line end"), L"no line end");
    EXPECT_EQ(Convert(L""), L"");
    EXPECT_EQ(Convert(L"\n"), L"\r\n");
}

TEST(ToPaneText, KeepsOtherCharactersUnchanged) {
    const std::wstring chinese = L"\x4F60\x597D\xFF0C\x4E16\x754C\r\n";
    EXPECT_EQ(Convert(chinese), chinese);
    EXPECT_EQ(Convert(L"lone\rcarriage return"), L"lone\rcarriage return");
}

TEST(ToPaneText, ReplacesNulSoTheRestIsNotCutOff) {
    EXPECT_EQ(Convert(std::wstring(L"a\0b\n", 4)), L"a\xFFFD" L"b\r\n");
}

TEST(ToPaneText, CrLfSplitAcrossInsertionsStaysOneBreak) {
    bool endsInCr = false;
    EXPECT_EQ(ToPaneText(L"first\r", endsInCr), L"first\r");
    EXPECT_TRUE(endsInCr);
    EXPECT_EQ(ToPaneText(L"\nsecond\n", endsInCr), L"\nsecond\r\n");
    EXPECT_FALSE(endsInCr);
    EXPECT_EQ(ToPaneText(L"\n", endsInCr), L"\r\n");
}

TEST(PaneTrimLength, CutsAfterTheLineThatHoldsTheExcess) {
    const std::wstring pane = L"one\r\ntwo\r\nthree\r\n";
    EXPECT_EQ(PaneTrimLength(pane, 0), 0u);
    EXPECT_EQ(PaneTrimLength(pane, 1), 5u);   // "one\r\n"
    EXPECT_EQ(PaneTrimLength(pane, 4), 5u);
    EXPECT_EQ(PaneTrimLength(pane, 5), 5u);   // already at a line start
    EXPECT_EQ(PaneTrimLength(pane, 6), 10u);  // "one\r\ntwo\r\n"
    EXPECT_EQ(PaneTrimLength(pane, 17), 17u);
    EXPECT_EQ(PaneTrimLength(pane, 100), 17u);
}

TEST(PaneTrimLength, TextWithoutAFollowingBreakGoesWhole) {
    EXPECT_EQ(PaneTrimLength(L"one\r\nunfinished", 6), 15u);
    EXPECT_EQ(PaneTrimLength(L"", 1), 0u);
}

std::wstring Units(std::size_t count, wchar_t unit) { return std::wstring(count, unit); }

TEST(FitPaneText, KeepsTheFirstLineAndTheEndAroundAMarker) {
    constexpr std::size_t kLimit = 80;
    const std::wstring marker = kPaneOmissionMarker;  // 25 units
    const std::wstring error = L"[Error] POST failed: HTTP 500: x\r\n";
    const std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)};
    const struct {
        const char* name;
        std::wstring text;
        std::wstring fitted;
    } cases[] = {
        {"short text", L"short\r\n", L"short\r\n"},
        {"exactly the limit", Units(kLimit, L'a'), Units(kLimit, L'a')},
        {"error line with a long body", error + Units(100, L'y'), error + marker + Units(21, L'y')},
        {"one long line: half the limit of it", Units(200, L'a'), Units(40, L'a') + L"\r\n" + marker + Units(13, L'a')},
        {"pair at the head's cut", Units(39, L'a') + pair + Units(200, L'b'),
         Units(39, L'a') + L"\r\n" + marker + Units(14, L'b')},
        {"CR LF at the head's cut", Units(39, L'a') + L"\r\n" + Units(200, L'b'),
         Units(39, L'a') + L"\r\n" + marker + Units(14, L'b')},
        {"pair at the tail's cut", L"h\r\n" + Units(100, L'c') + pair + Units(51, L'd'),
         L"h\r\n" + marker + Units(51, L'd')},
        {"CR LF at the tail's cut", L"h\r\n" + Units(100, L'c') + L"\r\n" + Units(51, L'd'),
         L"h\r\n" + marker + Units(51, L'd')},
    };
    for (const auto& c : cases) {
        const std::wstring fitted = FitPaneText(c.text, kLimit);
        EXPECT_EQ(fitted, c.fitted) << c.name;
        EXPECT_LE(fitted.size(), kLimit) << c.name;
    }
}

}  // namespace
