#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/level_meter.h"

namespace {

TEST(LevelToFraction, MapsMinus80To0dBLinearly) {
    EXPECT_EQ(LevelToFraction(-90.0f), 0.0f);
    EXPECT_EQ(LevelToFraction(-80.0f), 0.0f);
    EXPECT_EQ(LevelToFraction(-40.0f), 0.5f);
    EXPECT_EQ(LevelToFraction(-20.0f), 0.75f);
    EXPECT_EQ(LevelToFraction(0.0f), 1.0f);
    EXPECT_EQ(LevelToFraction(6.0f), 1.0f);
    EXPECT_EQ(LevelToFraction(-79.0f), 1.0f / 80.0f);
}

TEST(LevelBarWidth, FillsTheShareOfTheWidthCutDown) {
    EXPECT_EQ(LevelBarWidth(300, -90.0f), 0);
    EXPECT_EQ(LevelBarWidth(300, -120.0f), 0);
    EXPECT_EQ(LevelBarWidth(300, -80.0f), 0);
    EXPECT_EQ(LevelBarWidth(300, -40.0f), 150);
    EXPECT_EQ(LevelBarWidth(300, -20.0f), 225);
    EXPECT_EQ(LevelBarWidth(300, 0.0f), 300);
    EXPECT_EQ(LevelBarWidth(300, 3.0f), 300);
    // -0.08 dBFS is a fraction of 0.999: 299.7 pixels are cut down to 299.
    EXPECT_EQ(LevelBarWidth(300, -0.08f), 299);
    EXPECT_EQ(LevelBarWidth(0, -10.0f), 0);
}

TEST(LevelBarWidth, ALevelThatIsNotANumberDrawsNoBar) {
    EXPECT_EQ(LevelBarWidth(300, std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(LevelBarWidth(300, -std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(LevelBarWidth(300, std::numeric_limits<float>::infinity()), 300);
}

TEST(LevelLabel, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(LevelLabel(-90.0f), "Level: -90dBFS");
    EXPECT_EQ(LevelLabel(-23.0f), "Level: -23dBFS");
    EXPECT_EQ(LevelLabel(-120.0f), "Level: -120dBFS");
    EXPECT_EQ(LevelLabel(-3.5f), "Level: -4dBFS");
    EXPECT_EQ(LevelLabel(-3.4f), "Level: -3dBFS");
    EXPECT_EQ(LevelLabel(-2.5f), "Level: -3dBFS");
    EXPECT_EQ(LevelLabel(-0.4f), "Level: 0dBFS");
    EXPECT_EQ(LevelLabel(-0.5f), "Level: -1dBFS");
    EXPECT_EQ(LevelLabel(0.0f), "Level: 0dBFS");
    EXPECT_EQ(LevelLabel(2.5f), "Level: 3dBFS");
}

TEST(LevelLabel, ExtremeValuesStayPrintable) {
    EXPECT_EQ(LevelLabel(std::numeric_limits<float>::quiet_NaN()), "Level: --dBFS");
    EXPECT_EQ(LevelLabel(-std::numeric_limits<float>::infinity()), "Level: -1000000dBFS");
    EXPECT_EQ(LevelLabel(std::numeric_limits<float>::infinity()), "Level: 1000000dBFS");
    EXPECT_EQ(LevelLabel(-3e9f), "Level: -1000000dBFS");
}

}  // namespace
