// The capture device vanishes while recording. device_lost.sh runs this under Wine and
// stops the test bed's PulseAudio once the file named by VALDRIN_RECORDING_MARKER (a
// Windows path) exists, that is once packets are flowing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/win/capture_fixture.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr const char* kDeviceLost = "[Error] Capture device lost hr=0x";

TEST_F(CaptureTest, LostDeviceIsReportedOnceAndStopStillCloses) {
    const char* marker = std::getenv("VALDRIN_RECORDING_MARKER");
    ASSERT_NE(marker, nullptr) << "run through tests/win/device_lost.sh, which stops the audio server";

    ASSERT_TRUE(StartAndAwaitPackets());
    std::ofstream(marker) << "recording\n";
    ASSERT_TRUE(WaitUntil([this] { return CountOf(log_.Text(), kDeviceLost) > 0; }, milliseconds(20000)))
        << "nothing told the user that the device went away";

    Sleep(1500);  // the capture thread keeps waking all this time
    const auto stopCalled = Clock::now();
    StopCapture(g_capture);
    const auto stopTook = std::chrono::duration_cast<milliseconds>(Clock::now() - stopCalled);
    std::printf("StopCapture after the device was lost took %lld ms\n", static_cast<long long>(stopTook.count()));
    EXPECT_TRUE(IsClosed(g_capture)) << "the capture thread did not end within the wait";
    EXPECT_TRUE(HoldsNoComInitialisation());

    const auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 2u) << log_.Text();
    EXPECT_EQ(entries[0], kNullSinkMixFormatLine);
    // The code Wine gives for a stream whose server went away: AUDCLNT_E_DEVICE_INVALIDATED.
    EXPECT_EQ(entries[1], std::string(kDeviceLost) + "88890004\n");
}

}  // namespace
