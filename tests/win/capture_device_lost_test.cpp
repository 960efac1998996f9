// The capture device vanishes while recording: device_lost.sh runs this under Wine and
// stops the test bed's PulseAudio when the test asks (tests/win/audio_switch.h).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "tests/win/audio_switch.h"
#include "tests/win/capture_fixture.h"

namespace {

using std::chrono::milliseconds;

constexpr const char* kDeviceLost = "[Error] Capture device lost hr=0x";
std::atomic<int> g_lossCalls{0};

TEST_F(CaptureTest, LostDeviceIsReportedOnceAndEndsTheCaptureThread) {
    ASSERT_TRUE(AudioSwitchFolder()) << "run through tests/win/device_lost.sh, which stops the audio server";
    g_capture.onStreamLost = [] { ++g_lossCalls; };

    ASSERT_TRUE(StartAndAwaitPackets());
    EXPECT_FALSE(g_capture.streamLost);
    AskAudioSwitch("stop");
    ASSERT_TRUE(AudioSwitchDone("stop", milliseconds(20000)));
    // The thread ends by itself, and only after it has said why.
    ASSERT_TRUE(WaitUntil([] { return WaitForSingleObject(g_capture.captureThread, 0) == WAIT_OBJECT_0; },
                          milliseconds(10000)))
        << "the capture thread kept running without its device";
    EXPECT_TRUE(g_capture.streamLost);
    EXPECT_EQ(g_lossCalls, 1);

    const std::size_t queued = g_capture.pendingSamples.size();
    EXPECT_GT(queued, 0u);

    StopCapture(g_capture);
    g_capture.onStreamLost = nullptr;
    EXPECT_EQ(g_capture.pendingSamples.size(), queued) << "what was queued waits for the next recording";
    EXPECT_TRUE(IsClosed(g_capture));
    EXPECT_TRUE(HoldsNoComInitialisation());

    const auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 2u) << log_.Text();
    EXPECT_EQ(entries[0], kNullSinkMixFormatLine);
    // The code Wine gives for a stream whose server went away: AUDCLNT_E_DEVICE_INVALIDATED.
    EXPECT_EQ(entries[1], std::string(kDeviceLost) + "88890004\n");
}

}  // namespace
