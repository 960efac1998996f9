// Level bar arithmetic: a dBFS level becomes a bar width and a label. Kept apart
// from the window code so that it is tested on every system.
#pragma once

#include <string>

// 0 at or below -80 dBFS, 1 at or above 0 dBFS, linear in between (single precision).
float LevelToFraction(float levelDb);

// Bar width in pixels for a client area `clientWidth` pixels wide: the fraction,
// held to [0, 1], times the width as a single float, truncated toward zero.
int LevelBarWidth(int clientWidth, float levelDb);

// "Level: -23dBFS": the level rounded to the nearest integer, halves away from zero.
std::string LevelLabel(float levelDb);
