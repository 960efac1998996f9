// The capture thread: waits for the engine's signal and drains every ready packet
// into the packet processor.
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

// Once the device is gone every further call fails the same way: the user is told
// once per recording instead of at every wake-up.
class StreamFaultReport {
public:
    void Report(const char* what, HRESULT hr) {
        if (reported_) return;
        reported_ = true;
        AppendLog(std::string("[Error] ") + what + " " + HresultText(hr) + "\n");
    }

private:
    bool reported_ = false;
};

// Hands every packet that is ready to the processor and tells how many there were.
// A failure only ends this drain.
unsigned DrainPackets(CaptureContext& context, PacketProcessor& processor, StreamFaultReport& faults) {
    for (unsigned handed = 0;; ++handed) {
        UINT32 packetFrames = 0;
        HRESULT hr = context.captureClient->GetNextPacketSize(&packetFrames);
        if (FAILED(hr)) {
            faults.Report(kDeviceLost, hr);
            return handed;
        }
        if (packetFrames == 0) return handed;

        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        hr = context.captureClient->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (FAILED(hr)) {
            faults.Report(kDeviceLost, hr);
            return handed;
        }
        ProcessCapturePacket(processor, context, data, frames, flags);
        context.captureClient->ReleaseBuffer(frames);
    }
}

// A running stream brings a packet with every signal. A wake without one can mean that
// the device is gone while the packet calls still report success and nothing, so ask
// the client itself, which does report a lost device.
void CheckStreamAlive(CaptureContext& context, StreamFaultReport& faults) {
    UINT32 padding = 0;
    const HRESULT hr = context.audioClient->GetCurrentPadding(&padding);
    if (FAILED(hr)) faults.Report(kDeviceLost, hr);
}

void RunCaptureLoop(CaptureContext& context, PacketProcessor& processor) {
    StreamFaultReport faults;
    while (!context.stopRequested) {
        const DWORD waited = WaitForSingleObject(context.captureEvent, kSignalWaitMs);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_TIMEOUT) {
            faults.Report("Capture wait failed", HRESULT_FROM_WIN32(GetLastError()));
            return;
        }
        if (waited == WAIT_OBJECT_0 && DrainPackets(context, processor, faults) > 0) continue;
        CheckStreamAlive(context, faults);
    }
}

}  // namespace

DWORD WINAPI CaptureThreadProc(LPVOID parameter) {
    CaptureContext& context = *static_cast<CaptureContext*>(parameter);
    const HRESULT comResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD taskIndex = 0;
    // Not joining the task only costs scheduling priority; capture works without it.
    const HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    PacketProcessor processor;

    RunCaptureLoop(context, processor);

    if (task) AvRevertMmThreadCharacteristics(task);
    if (SUCCEEDED(comResult)) CoUninitialize();
    return 0;
}
