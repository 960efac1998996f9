#include "app/win/level_meter_win.h"

#include <string>

#include "app/level_meter.h"
#include "app/win/window_state.h"
#include "audio/conditioning.h"
#include "core/win/text_conversion.h"


namespace {

void FillWithColour(HDC dc, const RECT& area, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

void DrawBorder(HDC dc, const RECT& area) {
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(160, 160, 160));
    HGDIOBJ previousPen = SelectObject(dc, pen);
    HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, area.left, area.top, area.right, area.bottom);
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
    DeleteObject(pen);
}

// Background, bar, border, label, drawn straight into the window, one over the other.
void Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillWithColour(dc, client, RGB(240, 240, 240));

    const float level = g_levelDb.load();  // one value for bar and label
    RECT bar = client;
    bar.right = client.left + LevelBarWidth(client.right - client.left, level);
    FillWithColour(dc, bar, RGB(128, 0, 200));

    DrawBorder(dc, client);

    const std::wstring label = Utf8ToWide(LevelLabel(level));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(window, &paint);
}

}  // namespace

void RegisterVolBarClass(HINSTANCE instance) {
    WNDCLASSW volBarClass = {};
    volBarClass.style = 0;
    volBarClass.lpfnWndProc = VolBarWndProc;
    volBarClass.hInstance = instance;
    volBarClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    volBarClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    volBarClass.lpszClassName = kVolBarClass;
    RegisterClassW(&volBarClass);
}

LRESULT CALLBACK VolBarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint covers the whole client area
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
