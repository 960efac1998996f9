// The capture thread: waits for the engine's signal and drains every ready packet
// into the packet processor, until Stop or until the stream fails for good.
#include <audioclient.h>
#include <avrt.h>

#include <string>

#include "core/log_core.h"
#include "audio/packet_processor.h"
#include "audio/win/capture_stream.h"
#include "audio/win/hresult_text.h"

namespace {

constexpr DWORD kSignalWaitMs = 200;  // bounds how long a stop request can go unseen
constexpr const char* kDeviceLost = "Capture device lost";

// Whether a failed call means the stream will never deliver again (the endpoint was
// removed or invalidated, the audio service is gone). Only a reset under way passes:
// the next signal finds the stream working again.
bool IsStreamGone(HRESULT hr) { return FAILED(hr) && hr != AUDCLNT_E_BUFFER_OPERATION_PENDING; }

// Tells the user, once, why the recording ends; false, for the loop to return.
bool ReportLoss(const char* what, HRESULT hr) {
    AppendLog(std::string("[Error] ") + what + " " + HresultText(hr) + "\n");
    return false;
}

struct DrainResult {
    unsigned handed = 0;  // packets handed to the processor
    HRESULT ended = S_OK; // the call that ended the drain, S_OK when no packet was left
};

// Hands every packet that is ready to the processor.
DrainResult DrainPackets(CaptureContext& context, PacketProcessor& processor) {
    for (DrainResult result;; ++result.handed) {
        UINT32 packetFrames = 0;
        result.ended = context.captureClient->GetNextPacketSize(&packetFrames);
        if (FAILED(result.ended) || packetFrames == 0) return result;

        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        result.ended = context.captureClient->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (FAILED(result.ended)) return result;
        ProcessCapturePacket(processor, context, data, frames, flags);
        context.captureClient->ReleaseBuffer(frames);
    }
}

// True when Stop ended the loop; false when the stream failed for good, after one line.
bool RunCaptureLoop(CaptureContext& context, PacketProcessor& processor) {
    while (!context.stopRequested) {
        const DWORD waited = WaitForSingleObject(context.captureEvent, kSignalWaitMs);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_TIMEOUT)
            return ReportLoss("Capture wait failed", HRESULT_FROM_WIN32(GetLastError()));
        if (waited == WAIT_OBJECT_0) {
            const DrainResult drain = DrainPackets(context, processor);
            if (IsStreamGone(drain.ended)) return ReportLoss(kDeviceLost, drain.ended);
            if (drain.handed > 0) continue;
        }
        // A running stream brings a packet with every signal. A wake without one can mean
        // that the device is gone while the packet calls still report success and
        // nothing, so ask the client itself, which does report a lost device.
        UINT32 padding = 0;
        const HRESULT hr = context.audioClient->GetCurrentPadding(&padding);
        if (IsStreamGone(hr)) return ReportLoss(kDeviceLost, hr);
    }
    return true;
}

}  // namespace

DWORD WINAPI CaptureThreadProc(LPVOID parameter) {
    CaptureContext& context = *static_cast<CaptureContext*>(parameter);
    const HRESULT comResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD taskIndex = 0;
    // Not joining the task only costs scheduling priority; capture works without it.
    const HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    PacketProcessor processor;

    const bool stopped = RunCaptureLoop(context, processor);

    if (task) AvRevertMmThreadCharacteristics(task);
    if (SUCCEEDED(comResult)) CoUninitialize();
    if (!stopped) {
        context.streamLost = true;
        if (context.onStreamLost) context.onStreamLost();
    }
    return 0;
}
