#include "app/level_meter.h"

#include <cmath>

namespace {
constexpr float kFloorDb = -80.0f;
constexpr float kRangeDb = 80.0f;
// Far beyond any measurable level, yet safe to round into a long.
constexpr float kLabelLimitDb = 1e6f;
}  // namespace

float LevelToFraction(float levelDb) {
    if (levelDb <= kFloorDb) return 0.0f;
    if (levelDb >= 0.0f) return 1.0f;
    return (levelDb - kFloorDb) / kRangeDb;
}

int LevelBarWidth(int clientWidth, float levelDb) {
    float fraction = LevelToFraction(levelDb);
    // Written so that a level that is not a number draws no bar.
    if (!(fraction > 0.0f)) fraction = 0.0f;
    if (fraction > 1.0f) fraction = 1.0f;
    return static_cast<int>(static_cast<float>(clientWidth) * fraction);
}

std::string LevelLabel(float levelDb) {
    if (std::isnan(levelDb)) return "Level: --dBFS";
    const float held = std::fmax(-kLabelLimitDb, std::fmin(kLabelLimitDb, levelDb));
    return "Level: " + std::to_string(std::lround(held)) + "dBFS";
}
