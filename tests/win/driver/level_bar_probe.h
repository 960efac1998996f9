// What the level bar shows, read back from its pixels.
#pragma once

#include <string>

#include "tests/win/driver/window_probe.h"

constexpr std::uint32_t kBarColour = 0x8000C8;         // RGB(128, 0, 200)
constexpr std::uint32_t kBarBackground = 0xF0F0F0;     // RGB(240, 240, 240)
constexpr std::uint32_t kBarBorderColour = 0xA0A0A0;   // RGB(160, 160, 160)
constexpr std::uint32_t kLabelColour = 0x000000;       // a device context's default text colour

// The bar's width in pixels: one past the rightmost column that shows bar colour
// (the border covers the first and last columns); 0 when none does.
int MeasureBarWidth(const Pixels& pixels);

// True when the label pixels (text colour) are exactly where DrawTextW puts `label`
// in a device context of the same size with the default font, centred on one line.
bool LabelMatches(const Pixels& pixels, const std::wstring& label);
