// Shared ground of the capture tests under Wine: the test bed's PulseAudio null sink
// is the default render endpoint and its monitor the default capture source.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "audio/win/capture_stream.h"
#include "tests/support/log_recorder.h"

// Every test starts with a closed stream, an empty queue and the given chunk length,
// and leaves the stream closed and every chunk worker joined.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    LogRecorder log_;
};

// Success when every pointer and handle of the context is null again.
::testing::AssertionResult IsClosed(const CaptureContext& context);

// Success when the calling thread holds no COM initialisation: a new one takes effect.
::testing::AssertionResult HoldsNoComInitialisation();

// Starts capture and waits until packets arrive. Under Wine the first packets of a new
// stream come anywhere between a few ms and about a second after the start.
::testing::AssertionResult StartAndAwaitPackets();

constexpr const char* kNullSinkMixFormatLine = "[Info] Mix format: rate=48000 Hz, ch=2, bits=32\n";

std::size_t CountOf(const std::string& text, const std::string& part);

// Polls `condition` every 5 ms until it holds or `timeout` has passed.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(5);
    }
    return true;
}
