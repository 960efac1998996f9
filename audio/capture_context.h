// The capture stream's record. The portable core only touches mixFormat and
// pendingSamples; the interface pointers and kernel handles belong to the Windows
// capture stream and are opaque everywhere else.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>

#include "audio/mix_format.h"
#include "audio/sample_timeline.h"

#ifdef _WIN32
#include <audioclient.h>
#include <mmdeviceapi.h>
#else
struct IMMDevice;
struct IAudioClient;
struct IAudioCaptureClient;
using HANDLE = void*;
#endif

struct CaptureContext {
    IMMDevice* device = nullptr;
    IAudioClient* audioClient = nullptr;
    IAudioCaptureClient* captureClient = nullptr;
    WAVEFORMATEX* mixFormat = nullptr;
    HANDLE captureEvent = nullptr;
    HANDLE captureThread = nullptr;
    std::atomic<bool> stopRequested{false};
    // 16 kHz mono samples waiting for the next chunk cut; outlives every recording.
    std::deque<std::int16_t> pendingSamples;
    // When each of them was captured; kept in step with pendingSamples.
    SampleTimeline pendingTimes;
    // Set by the capture thread when the stream failed for good and the thread ended on
    // its own; cleared by each start. Tells a current loss from a stale report of one.
    std::atomic<bool> streamLost{false};
    // Called on the capture thread, as its last act, after such a loss; its owner then
    // stops the capture as Stop would. Set before the first start.
    std::function<void()> onStreamLost;

    CaptureContext() = default;
    CaptureContext(const CaptureContext&) = delete;
    CaptureContext& operator=(const CaptureContext&) = delete;
};
