// A capture thread that is still busy when StopCapture's wait runs out: here it is held
// in the chunk hand-over, which registers the chunk's worker under g_workersMutex.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "core/settings.h"
#include "tests/support/loopback_server.h"
#include "tests/win/capture_fixture.h"
#include "transcribe/chunk_job.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST_F(CaptureTest, BusyThreadKeepsItsStreamAndNoSecondThreadStarts) {
    LoopbackServer server;
    server.SetReply(Reply(200, R"({"text":""})"));  // the chunk's upload logs nothing
    g_serverPort = server.Port();
    g_chunkSeconds = 1;
    std::unique_lock<std::mutex> registry(g_workersMutex);

    ASSERT_TRUE(StartAndAwaitPackets());
    Sleep(1500);  // the first one-second chunk has been cut; its hand-over waits for the lock
    const auto stopCalled = Clock::now();
    StopCapture(g_capture);
    EXPECT_GE(Clock::now() - stopCalled, milliseconds(1900)) << "the capture thread was not held";

    // Nothing the thread still uses has been released.
    EXPECT_TRUE(g_capture.captureThread && g_capture.audioClient && g_capture.captureClient && g_capture.mixFormat &&
                g_capture.captureEvent && g_capture.device);
    EXPECT_FALSE(StartCapture(g_capture));
    EXPECT_EQ(log_.Entries().back(), "[Error] Capture thread still running\n");
    EXPECT_EQ(CountOf(log_.Text(), kNullSinkMixFormatLine), 1u) << "the refused start opened the device";

    registry.unlock();
    ASSERT_EQ(WaitForSingleObject(g_capture.captureThread, 5000), WAIT_OBJECT_0);

    // Once the old thread has ended, a start finishes its release and opens anew.
    ASSERT_TRUE(StartCapture(g_capture));
    EXPECT_EQ(CountOf(log_.Text(), kNullSinkMixFormatLine), 2u);
    StopCapture(g_capture);
    EXPECT_TRUE(IsClosed(g_capture));
    EXPECT_TRUE(HoldsNoComInitialisation());
    JoinAllWorkers();
    EXPECT_GE(server.Requests().size(), 1u) << "the held chunk was not sent once the thread went on";
}

}  // namespace
