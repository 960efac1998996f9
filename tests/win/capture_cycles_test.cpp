// Repeated recordings: every Start/Stop pair gives back what it took.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/win/capture_fixture.h"
#include "tests/win/process_resources.h"

namespace {

void RecordBriefly() {
    ASSERT_TRUE(StartCapture(g_capture));
    Sleep(30);
    StopCapture(g_capture);
    ASSERT_TRUE(IsClosed(g_capture));
}

TEST_F(CaptureTest, ManyRecordingsLeaveNoHandlesThreadsOrMemoryBehind) {
    // The first recordings load the audio driver and its worker threads for good.
    for (int warmUp = 0; warmUp < 5; ++warmUp) RecordBriefly();
    Sleep(200);
    const ProcessResources before = SampleProcessResources();

    constexpr int kCycles = 60;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        RecordBriefly();
        if (HasFatalFailure()) return;
    }
    Sleep(200);
    const ProcessResources after = SampleProcessResources();
    std::printf("after %d recordings: handles %lu -> %lu, threads %lu -> %lu, working set %zu -> %zu KiB\n", kCycles,
                before.handles, after.handles, before.threads, after.threads, before.workingSetBytes / 1024,
                after.workingSetBytes / 1024);

    // One leaked event or thread per recording would show as kCycles more.
    EXPECT_GT(before.handles, 0u);
    EXPECT_GT(before.threads, 0u);
    EXPECT_LE(after.handles, before.handles + 3);
    EXPECT_LE(after.threads, before.threads + 1);
    EXPECT_LE(after.workingSetBytes, before.workingSetBytes + 2 * 1024 * 1024);
    EXPECT_TRUE(HoldsNoComInitialisation());
    EXPECT_EQ(CountOf(log_.Text(), kNullSinkMixFormatLine), static_cast<std::size_t>(kCycles + 5));
}

}  // namespace
