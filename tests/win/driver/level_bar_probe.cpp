#include "tests/win/driver/level_bar_probe.h"

#include <vector>

int MeasureBarWidth(const Pixels& pixels) {
    int width = 0;
    for (int x = 0; x < pixels.width; ++x) {
        for (int y = 0; y < pixels.height; ++y) {
            if (pixels.At(x, y) == kBarColour) {
                width = x + 1;
                break;
            }
        }
    }
    return width;
}

bool LabelMatches(const Pixels& pixels, const std::wstring& label) {
    if (pixels.width <= 0 || pixels.height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, pixels.width, pixels.height);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    RECT area = {0, 0, pixels.width, pixels.height};
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRect(memory, &area, white);
    DeleteObject(white);
    SetBkMode(memory, TRANSPARENT);
    DrawTextW(memory, label.c_str(), static_cast<int>(label.size()), &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    bool same = true;
    for (int y = 0; y < pixels.height && same; ++y) {
        for (int x = 0; x < pixels.width && same; ++x) {
            const bool expectText = GetPixel(memory, x, y) == RGB(0, 0, 0);
            same = expectText == (pixels.At(x, y) == kLabelColour);
        }
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return same;
}
