// The capture stream against the test bed's null sink: opening, the capture thread's
// packets, stopping, restarting, and what a recording leaves in the pending queue.
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/settings.h"
#include "audio/conditioning.h"
#include "tests/support/test_signal.h"
#include "tests/win/capture_fixture.h"
#include "tests/win/sound_player.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kSamplesPerSecond = 16000;

TEST_F(CaptureTest, OpensTheNullSinkMonitorAndClosesAgain) {
    ASSERT_TRUE(StartCapture(g_capture));
    EXPECT_EQ(log_.Entries(), std::vector<std::string>{kNullSinkMixFormatLine});
    EXPECT_TRUE(g_capture.device && g_capture.audioClient && g_capture.captureClient && g_capture.mixFormat &&
                g_capture.captureEvent && g_capture.captureThread);
    EXPECT_FALSE(g_capture.stopRequested);
    EXPECT_EQ(g_capture.mixFormat->wFormatTag, WAVE_FORMAT_EXTENSIBLE);

    StopCapture(g_capture);
    EXPECT_TRUE(IsClosed(g_capture));
    EXPECT_TRUE(g_capture.stopRequested);
    EXPECT_TRUE(HoldsNoComInitialisation());
    EXPECT_EQ(log_.Entries().size(), 1u) << "start and stop log nothing else";
}

// The engine signals the capture event for every period; the thread drains only on a
// signal, so a queue that fills at the capture rate shows the event-driven path works.
TEST_F(CaptureTest, SignalledPacketsFillTheQueueInRealTime) {
    const auto started = Clock::now();
    ASSERT_TRUE(StartAndAwaitPackets());
    const auto flowing = Clock::now();
    Sleep(2000);
    StopCapture(g_capture);
    const auto stopped = Clock::now();

    const double queuedSeconds = static_cast<double>(g_capture.pendingSamples.size()) / kSamplesPerSecond;
    EXPECT_LE(queuedSeconds, std::chrono::duration<double>(stopped - started).count() + 0.05)
        << "more audio than time passed";
    EXPECT_GE(queuedSeconds, std::chrono::duration<double>(stopped - flowing).count() - 0.1)
        << "packets were lost or came only now and then";
    for (std::int16_t sample : g_capture.pendingSamples) ASSERT_EQ(sample, 0) << "nothing plays into the sink";
}

TEST_F(CaptureTest, StopRightAfterStartEndsTheThreadAtOnce) {
    ASSERT_TRUE(StartCapture(g_capture));
    const auto stopCalled = Clock::now();
    StopCapture(g_capture);
    const auto stopTook = std::chrono::duration_cast<milliseconds>(Clock::now() - stopCalled);
    std::printf("StopCapture right after StartCapture took %lld ms\n", static_cast<long long>(stopTook.count()));

    // A closed context means the thread ended within the wait; the stop signal, not the
    // 200 ms time-outs, should have woken it.
    EXPECT_TRUE(IsClosed(g_capture));
    EXPECT_LT(stopTook, milliseconds(1000));
}

TEST_F(CaptureTest, StartStopStartOpensTheDeviceAgain) {
    ASSERT_TRUE(StartAndAwaitPackets());
    StopCapture(g_capture);
    const std::size_t firstRecording = g_capture.pendingSamples.size();

    ASSERT_TRUE(StartAndAwaitPackets());
    EXPECT_EQ(CountOf(log_.Text(), kNullSinkMixFormatLine), 2u);
    Sleep(300);
    StopCapture(g_capture);
    EXPECT_TRUE(IsClosed(g_capture));
    EXPECT_GT(g_capture.pendingSamples.size(), firstRecording + kSamplesPerSecond / 5)
        << "the second recording captured too little";
}

TEST_F(CaptureTest, QueueOutlivesStopAndLeadsTheNextRecording) {
    std::vector<std::int16_t> remainder(5000);
    for (std::size_t i = 0; i < remainder.size(); ++i) remainder[i] = static_cast<std::int16_t>(i + 1);
    g_capture.pendingSamples.assign(remainder.begin(), remainder.end());

    for (int recording = 0; recording < 2; ++recording) {
        const std::size_t before = g_capture.pendingSamples.size();
        ASSERT_TRUE(StartAndAwaitPackets());
        Sleep(200);
        StopCapture(g_capture);
        EXPECT_GT(g_capture.pendingSamples.size(), before) << "recording " << recording << " queued nothing";
        ASSERT_TRUE(std::equal(remainder.begin(), remainder.end(), g_capture.pendingSamples.begin()))
            << "recording " << recording << " disturbed what an earlier one left";
    }
}

TEST_F(CaptureTest, LevelFollowsAToneIntoTheSink) {
    ASSERT_TRUE(StartCapture(g_capture));
    EXPECT_TRUE(WaitUntil([] { return g_levelDb.load() < -100.0f; }, milliseconds(2000)))
        << "the silent sink should pull the level down, level " << g_levelDb.load();

    // A sine of amplitude 0.5 has an RMS level of -9.03 dBFS. Wine takes from a few
    // hundred ms to a few seconds to start a sound, so the tone lasts long enough for
    // the level to be read while it plays.
    SoundPlayer player;
    ASSERT_TRUE(player.Play(test_signal::Tone(1000.0, 0.5, 5 * kSamplesPerSecond)));
    EXPECT_TRUE(WaitUntil([] { return g_levelDb.load() > -12.0f; }, milliseconds(5000)))
        << "the level did not rise with the tone, level " << g_levelDb.load();
    Sleep(300);
    EXPECT_NEAR(g_levelDb.load(), -9.03f, 1.5f);

    EXPECT_TRUE(WaitUntil([] { return g_levelDb.load() < -100.0f; }, milliseconds(10000)))
        << "the level did not fall after the tone, level " << g_levelDb.load();
    StopCapture(g_capture);
}

// An apartment the caller set up itself stays; StopCapture gives back only its own.
TEST_F(CaptureTest, StopLeavesTheCallersOwnApartment) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_TRUE(StartCapture(g_capture));
    StopCapture(g_capture);

    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << "apartment type " << type;
    CoUninitialize();
    EXPECT_TRUE(HoldsNoComInitialisation());
}

}  // namespace
