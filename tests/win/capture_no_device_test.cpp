// Run with no audio server reachable (PULSE_SERVER naming no socket): Wine then offers
// no capture endpoint at all, as Windows does on a machine without one.
#include <gtest/gtest.h>

#include "tests/win/capture_fixture.h"
#include "tests/win/process_resources.h"

namespace {

TEST_F(CaptureTest, WithoutADeviceStartFailsCleanlyAndCanBeRetriedAtOnce) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const ProcessResources before = SampleProcessResources();
        EXPECT_FALSE(StartCapture(g_capture)) << "attempt " << attempt;
        EXPECT_EQ(log_.Entries().back(), "[Error] No default capture device\n");
        EXPECT_TRUE(IsClosed(g_capture)) << "attempt " << attempt;
        EXPECT_TRUE(HoldsNoComInitialisation()) << "attempt " << attempt;
        if (attempt > 1) {
            EXPECT_LE(SampleProcessResources().handles, before.handles) << "attempt " << attempt;
        }
    }
    EXPECT_EQ(log_.Entries(), std::vector<std::string>(3, "[Error] No default capture device\n"));
}

}  // namespace
