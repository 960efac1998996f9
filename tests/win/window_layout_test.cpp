// The main window as a user's tools see it from outside: class, title, every control's
// class, text, styles, id and place, the fonts, and the layout after a resize.
#include <gtest/gtest.h>

#include "tests/win/window_test_support.h"

namespace {

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // complete, WS_CHILD | WS_VISIBLE included
    DWORD exStyle;
    int id;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// In creation order, which is the order the window system lists them in.
const ExpectedControl kControls[] = {
    {L"Edit", L"", kChild | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, WS_EX_CLIENTEDGE, 0},
    {L"VolBarClass", L"", kChild, 0, 0},
    {L"Static", L"Server:", kChild, 0, 0},
    {L"Edit", L"127.0.0.1", kChild | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 5},
    {L"Static", L"Port:", kChild, 0, 0},
    {L"Edit", L"8080", kChild | ES_AUTOHSCROLL | ES_NUMBER, WS_EX_CLIENTEDGE, 6},
    {L"Static", L"Chunk(s):", kChild, 0, 0},
    {L"Edit", L"7", kChild | ES_AUTOHSCROLL | ES_NUMBER, WS_EX_CLIENTEDGE, 7},
    {L"Static", L"LANG:", kChild, 0, 0},
    {L"ComboBox", L"zh", kChild | CBS_DROPDOWNLIST, 0, 3},
    {L"Button", L"Start", kChild | BS_DEFPUSHBUTTON, 0, 1},
    {L"Button", L"Stop", kChild | BS_PUSHBUTTON, 0, 2},
};

// x, y, width, height of each control above for a client area of `width` × `height`
// with the level bar at `barX`, `barWidth`. The language list's height is its closed
// height, checked separately.
std::vector<RECT> ExpectedPlaces(int width, int height, int barX, int barWidth) {
    const auto place = [](int x, int y, int w, int h) { return RECT{x, y, x + w, y + h}; };
    return {place(10, 80, width - 20, height - 90), place(barX, 14, barWidth, 16), place(300, 14, 56, 22),
            place(362, 12, 160, 24),  place(534, 14, 40, 22), place(580, 12, 60, 24),
            place(652, 14, 68, 22),   place(726, 12, 40, 24), place(778, 14, 44, 22),
            place(828, 10, 100, 0),   place(10, 10, 160, 30), place(180, 10, 100, 30)};
}

std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top);
}

void ExpectLayout(const AppSession& app, int barX, int barWidth) {
    const RECT client = ClientRectOf(app.MainWindow());
    const std::vector<ControlInfo> children = ListChildren(app.MainWindow());
    const std::vector<RECT> places = ExpectedPlaces(client.right, client.bottom, barX, barWidth);
    ASSERT_EQ(children.size(), places.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
        RECT actual = children[i].rect;
        if (i == 9) actual.bottom = actual.top;  // the closed list's height is the platform's
        EXPECT_EQ(Describe(actual), Describe(places[i])) << "control " << i << " " << WideToUtf8(children[i].text);
    }
}

class MainWindowTest : public ::testing::Test {
protected:
    AppSession app{LiveProgram()};
};

TEST_F(MainWindowTest, HasItsClassTitleAndSize) {
    EXPECT_EQ(ClassNameOf(app.MainWindow()), L"ValdrinWASAPIWnd");
    EXPECT_EQ(WindowText(app.MainWindow()), L"Valdrin Live (WASAPI+MP3+dB)+Custom Server");
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(app.MainWindow(), GWL_STYLE));
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
    RECT outer = {};
    GetWindowRect(app.MainWindow(), &outer);
    EXPECT_EQ(outer.right - outer.left, 1200);
    EXPECT_EQ(outer.bottom - outer.top, 800);
}

TEST_F(MainWindowTest, CreatesEveryControlWithItsClassTextStylesAndId) {
    const std::vector<ControlInfo> children = ListChildren(app.MainWindow());
    ASSERT_EQ(children.size(), std::size(kControls));
    for (std::size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i) + ": " + WideToUtf8(kControls[i].text));
        EXPECT_EQ(lstrcmpiW(children[i].className.c_str(), kControls[i].className), 0)
            << WideToUtf8(children[i].className);
        EXPECT_EQ(children[i].text, kControls[i].text);
        EXPECT_EQ(children[i].style, kControls[i].style);
        EXPECT_EQ(children[i].exStyle, kControls[i].exStyle);
        EXPECT_EQ(children[i].id, kControls[i].id);
    }
}

// The default outer size leaves a client area narrower than 1260: the bar starts right
// of the language list (which ends at 928) and is narrowed to fit.
TEST_F(MainWindowTest, LaysOutControlsAfterCreation) {
    const RECT client = ClientRectOf(app.MainWindow());
    ASSERT_LT(client.right, 1260);
    ExpectLayout(app, 940, client.right - 960);
}

TEST_F(MainWindowTest, LanguageListOffersTheThreeCodesWithZhSelected) {
    HWND list = app.Control(L"ComboBox", 3);
    ASSERT_TRUE(list);
    ASSERT_EQ(SendTimed(list, CB_GETCOUNT, 0, 0), 3);
    const wchar_t* codes[] = {L"auto", L"en", L"zh"};
    for (int i = 0; i < 3; ++i) {
        wchar_t item[32] = {};
        ASSERT_EQ(SendTimed(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item)), lstrlenW(codes[i]));
        EXPECT_STREQ(item, codes[i]);
    }
    EXPECT_EQ(SendTimed(list, CB_GETCURSEL, 0, 0), 2);
    // The list was given 200 pixels of height, its drop-down part included; Wine
    // reports the drop-down part as the rest below the closed part.
    RECT closed = {};
    RECT dropped = {};
    GetWindowRect(list, &closed);
    ASSERT_TRUE(SendTimed(list, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped)));
    EXPECT_EQ((closed.bottom - closed.top) + (dropped.bottom - dropped.top), 200)
        << Describe(closed) << " / " << Describe(dropped);
}

TEST_F(MainWindowTest, ResizeMovesOnlyThePaneAndTheLevelBar) {
    // Client width, then the level bar's x and width: 320 pixels left of the right edge
    // while that keeps it right of the top row, else squeezed down to nothing.
    const struct {
        int width, barX, barWidth;
    } kWidths[] = {{1280, 960, 300}, {1260, 940, 300}, {1259, 940, 299}, {1000, 940, 40},
                   {960, 940, 0},     {700, 940, 0}};
    for (const auto& c : kWidths) {
        SCOPED_TRACE("client width " + std::to_string(c.width));
        ASSERT_TRUE(app.ResizeClient(c.width, 600));
        ExpectLayout(app, c.barX, c.barWidth);
    }
    EXPECT_EQ(Describe(DescribeControl(app.Pane()).rect), "10,80 680x510");
}

}  // namespace
