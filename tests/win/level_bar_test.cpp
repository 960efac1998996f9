// The level bar's pixels as the screen shows them, for levels stored through the
// test build's hook.
#include <gtest/gtest.h>

#include "tests/win/driver/level_bar_probe.h"
#include "tests/win/window_test_support.h"

namespace {

class LevelBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Nothing may cover the bar while its pixels are read from the screen.
        SetWindowPos(app.MainWindow(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        // The narrowest client area that leaves the bar its full 300 pixels.
        ASSERT_TRUE(app.ResizeClient(1260, 760));
    }

    // Waits (the bar repaints every 33 ms) until the label reads `label`, then returns
    // the bar's pixels; empty pixels when that never happened.
    Pixels WaitForLabel(const std::wstring& label) {
        Pixels pixels;
        const bool shown = WaitUntil(
            [&] {
                pixels = GrabClientPixels(app.LevelBar());
                return LabelMatches(pixels, label);
            },
            std::chrono::seconds(5));
        return shown ? pixels : Pixels{};
    }

    // Stores `levelDb` and waits for its label. The level passes through -90 first, so
    // that a label equal to the previous one cannot pass for the new paint.
    Pixels ShowLevel(float levelDb, const std::wstring& label) {
        const std::wstring sentinel = L"Level: -90dBFS";
        if (!SetLevel(app, -90.0f) || WaitForLabel(sentinel).width == 0) return {};
        return SetLevel(app, levelDb) ? WaitForLabel(label) : Pixels{};
    }

    AppSession app{HookedProgram()};
};

TEST_F(LevelBarTest, StartsEmptyAtMinus90) {
    const Pixels pixels = WaitForLabel(L"Level: -90dBFS");
    ASSERT_EQ(pixels.width, 300);
    ASSERT_EQ(pixels.height, 16);
    EXPECT_EQ(MeasureBarWidth(pixels), 0);
    EXPECT_EQ(pixels.At(0, 0), kBarBorderColour);
    EXPECT_EQ(pixels.At(299, 15), kBarBorderColour);
    EXPECT_EQ(pixels.At(2, 2), kBarBackground);
    EXPECT_EQ(pixels.At(297, 13), kBarBackground);
}

TEST_F(LevelBarTest, BarWidthFollowsTheLevel) {
    struct Case {
        float levelDb;
        const wchar_t* label;
        int width;
    };
    const Case cases[] = {
        {-40.0f, L"Level: -40dBFS", 150}, {-20.0f, L"Level: -20dBFS", 225}, {-80.0f, L"Level: -80dBFS", 0},
        {-120.0f, L"Level: -120dBFS", 0}, {-3.5f, L"Level: -4dBFS", 286},  {-3.4f, L"Level: -3dBFS", 287},
        {-0.4f, L"Level: 0dBFS", 298},    {-0.08f, L"Level: 0dBFS", 299},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.label));
        const Pixels pixels = ShowLevel(c.levelDb, c.label);
        ASSERT_EQ(pixels.width, 300) << "label never showed";
        EXPECT_EQ(MeasureBarWidth(pixels), c.width);
        EXPECT_EQ(pixels.At(0, 0), kBarBorderColour);  // the border lies over the bar
    }
}

TEST_F(LevelBarTest, FullLevelFillsUpToTheBorder) {
    const Pixels pixels = ShowLevel(0.0f, L"Level: 0dBFS");
    ASSERT_EQ(pixels.width, 300);
    EXPECT_EQ(pixels.At(298, 2), kBarColour);
    EXPECT_EQ(pixels.At(299, 2), kBarBorderColour);
    EXPECT_EQ(pixels.At(1, 2), kBarColour);
}

}  // namespace
