// The main window's controls, one row each in creation order: what each is, where it
// is created and how the layout moves it. Creation and layout both read this table.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class Placement {
    Fixed,        // stays where it was created (the buttons)
    FollowEdges,  // keeps x and y; right and bottom edges kEdgeMargin inside (the pane)
    RightEdge,    // keeps y and height; right edge kRightEdgeMargin inside, but never left of
                  // TopRowEnd(), narrowed (down to nothing) to fit (the level bar)
    TopRow,       // placed one after the other from the first top-row control's x
};
constexpr int kEdgeMargin = 10;
constexpr int kRightEdgeMargin = 20;

struct ControlSpec {
    HWND* handle;  // where the window keeps it; null when it is not kept
    const wchar_t* className;
    std::wstring text;
    int id;
    DWORD style;    // beyond WS_CHILD | WS_VISIBLE
    DWORD exStyle;
    int x, y, width, height;  // where it is created
    Placement placement;
    int gapAfter;   // top row: pixels between it and the next control
    bool uiFont;    // takes the shared UI font rather than the system font
};

const std::vector<ControlSpec>& MainWindowControls();

// The first x right of the top row and its last gap: nothing placed there or further
// right covers a top-row control.
int TopRowEnd();
