#include "audio/win/capture_stream.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <string>

#include "core/log_core.h"
#include "audio/win/hresult_text.h"

CaptureContext g_capture;

namespace {

constexpr REFERENCE_TIME kRequestedBufferDuration = 100000;  // 10 ms in 100-ns units
constexpr DWORD kStreamFlags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST;
constexpr DWORD kThreadEndWaitMs = 2000;

// Whether the COM initialisation of StartCapture on this thread took effect, so that
// StopCapture gives back exactly that one and never an apartment set up by others.
thread_local bool t_comInitialisedByStart = false;

template <typename Interface>
void ReleaseAndClear(Interface*& pointer) {
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

bool Fail(const char* message) {
    AppendLog(message);
    return false;
}

// Multimedia role first, communications role as the fallback.
bool OpenDefaultDevice(CaptureContext& context) {
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                  __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
    if (FAILED(hr) || !enumerator) return Fail("[Error] MMDeviceEnumerator failed\n");

    hr = enumerator->GetDefaultAudioEndpoint(eCapture, eMultimedia, &context.device);
    if (FAILED(hr) || !context.device) {
        ReleaseAndClear(context.device);
        hr = enumerator->GetDefaultAudioEndpoint(eCapture, eCommunications, &context.device);
    }
    enumerator->Release();
    if (FAILED(hr) || !context.device) return Fail("[Error] No default capture device\n");
    return true;
}

void LogMixFormat(const WAVEFORMATEX& format) {
    AppendLog("[Info] Mix format: rate=" + std::to_string(format.nSamplesPerSec) +
              " Hz, ch=" + std::to_string(format.nChannels) + ", bits=" + std::to_string(format.wBitsPerSample) +
              "\n");
}

// A 10 ms buffer keeps latency low; a device that refuses it gets the engine's default.
bool InitializeSharedStream(CaptureContext& context) {
    HRESULT hr = context.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags, kRequestedBufferDuration,
                                                 0, context.mixFormat, nullptr);
    if (SUCCEEDED(hr)) return true;
    AppendLog("[Warn] Initialize(10ms) failed " + HresultText(hr) + ", retry with default period...\n");
    hr = context.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags, 0, 0, context.mixFormat, nullptr);
    if (SUCCEEDED(hr)) return true;
    AppendLog("[Error] IAudioClient Initialize failed " + HresultText(hr) + "\n");
    return false;
}

bool OpenAndStartStream(CaptureContext& context) {
    if (!OpenDefaultDevice(context)) return false;

    HRESULT hr = context.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                          reinterpret_cast<void**>(&context.audioClient));
    if (FAILED(hr) || !context.audioClient) return Fail("[Error] IAudioClient Activate failed\n");

    hr = context.audioClient->GetMixFormat(&context.mixFormat);
    if (FAILED(hr) || !context.mixFormat) return Fail("[Error] GetMixFormat failed\n");
    LogMixFormat(*context.mixFormat);

    if (!InitializeSharedStream(context)) return false;

    hr = context.audioClient->GetService(__uuidof(IAudioCaptureClient),
                                         reinterpret_cast<void**>(&context.captureClient));
    if (FAILED(hr) || !context.captureClient) return Fail("[Error] GetService IAudioCaptureClient failed\n");

    context.captureEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!context.captureEvent) return Fail("[Error] CreateEvent failed\n");

    hr = context.audioClient->SetEventHandle(context.captureEvent);
    if (FAILED(hr)) return Fail("[Error] SetEventHandle failed\n");

    context.stopRequested = false;
    context.streamLost = false;
    // The thread starts before the stream; until the first signal it only wakes to
    // look at stopRequested.
    context.captureThread = CreateThread(nullptr, 0, CaptureThreadProc, &context, 0, nullptr);
    if (!context.captureThread) return Fail("[Error] CreateThread failed\n");

    hr = context.audioClient->Start();
    if (FAILED(hr)) return Fail("[Error] IAudioClient Start failed\n");
    return true;
}

}  // namespace

bool StartCapture(CaptureContext& context) {
    // A capture thread that outlived the last StopCapture still uses the stream and the
    // pending queue: no second thread may join it. Once it has ended, finish that stop.
    if (context.captureThread) {
        if (WaitForSingleObject(context.captureThread, 0) != WAIT_OBJECT_0)
            return Fail("[Error] Capture thread still running\n");
        StopCapture(context);
    }

    t_comInitialisedByStart = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    if (OpenAndStartStream(context)) return true;
    // Give back whatever the failed step left behind, a started capture thread included.
    StopCapture(context);
    return false;
}

void StopCapture(CaptureContext& context) {
    context.stopRequested = true;
    if (context.captureEvent) SetEvent(context.captureEvent);
    if (context.audioClient) context.audioClient->Stop();

    if (context.captureThread) {
        // The stream, the format and the event stay with a thread that is still busy.
        if (WaitForSingleObject(context.captureThread, kThreadEndWaitMs) != WAIT_OBJECT_0) return;
        CloseHandle(context.captureThread);
        context.captureThread = nullptr;
    }
    ReleaseAndClear(context.captureClient);
    ReleaseAndClear(context.audioClient);
    ReleaseAndClear(context.device);
    if (context.mixFormat) {
        CoTaskMemFree(context.mixFormat);
        context.mixFormat = nullptr;
    }
    if (context.captureEvent) {
        CloseHandle(context.captureEvent);
        context.captureEvent = nullptr;
    }
    if (t_comInitialisedByStart) {
        CoUninitialize();
        t_comInitialisedByStart = false;
    }
}

bool FinishCaptureStopBy(CaptureContext& context, ULONGLONG deadline) {
    if (!context.captureThread) return true;
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(context.captureThread, left) != WAIT_OBJECT_0) return false;
    StopCapture(context);  // the thread has ended: only the release is left
    return true;
}
