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

}  // namespace
