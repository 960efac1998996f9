#include "tests/win/sound_player.h"

#include <ks.h>
#include <ksmedia.h>

#include <utility>

namespace {

constexpr REFERENCE_TIME kBufferDuration = 10000000;  // one second, in 100-ns units
constexpr DWORD kRefillMs = 20;
constexpr DWORD kSourceRate = 16000;

bool IsFloat(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return true;
    if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE) return false;
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    return IsEqualGUID(extensible.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) != 0;
}

template <typename Interface>
void ReleaseAndClear(Interface*& pointer) {
    if (pointer) pointer->Release();
    pointer = nullptr;
}

}  // namespace

SoundPlayer::~SoundPlayer() { Stop(); }

bool SoundPlayer::Play(const std::vector<std::int16_t>& samples16k) {
    Stop();
    samples_ = samples16k;
    nextFrame_ = 0;
    stop_ = false;
    std::promise<bool> opened;
    std::future<bool> started = opened.get_future();
    renderer_ = std::thread(&SoundPlayer::Run, this, std::move(opened));
    return started.get();
}

void SoundPlayer::Stop() {
    stop_ = true;
    if (renderer_.joinable()) renderer_.join();
}

// All of the stream's COM work happens here, in this thread's own apartment.
void SoundPlayer::Run(std::promise<bool> opened) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool playing = Open();
    opened.set_value(playing);
    while (playing && !stop_) {
        Sleep(kRefillMs);
        UINT32 padding = 0;
        if (FAILED(client_->GetCurrentPadding(&padding))) break;
        Fill(bufferFrames_ - padding);
    }
    Release();
    if (SUCCEEDED(com)) CoUninitialize();
}

bool SoundPlayer::Open() {
    IMMDeviceEnumerator* enumerator = nullptr;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(&enumerator))))
        return false;
    const HRESULT found = enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, &device_);
    enumerator->Release();
    if (FAILED(found) ||
        FAILED(device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client_))) ||
        FAILED(client_->GetMixFormat(&format_)))
        return false;
    if (!IsFloat(*format_) || format_->nSamplesPerSec % kSourceRate != 0) return false;
    if (FAILED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferDuration, 0, format_, nullptr)) ||
        FAILED(client_->GetBufferSize(&bufferFrames_)) ||
        FAILED(client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&renderClient_))))
        return false;
    Fill(bufferFrames_);  // a full buffer before the stream starts
    return SUCCEEDED(client_->Start());
}

// Writes the next `frames` frames: the sound while it lasts, silence after it.
void SoundPlayer::Fill(UINT32 frames) {
    BYTE* data = nullptr;
    if (frames == 0 || FAILED(renderClient_->GetBuffer(frames, &data))) return;
    const std::size_t hold = format_->nSamplesPerSec / kSourceRate;
    const std::size_t channels = format_->nChannels;
    auto* out = reinterpret_cast<float*>(data);
    for (UINT32 frame = 0; frame < frames; ++frame, ++nextFrame_) {
        const std::size_t source = nextFrame_ / hold;
        const float value = source < samples_.size() ? static_cast<float>(samples_[source]) / 32768.0f : 0.0f;
        for (std::size_t channel = 0; channel < channels; ++channel) *out++ = value;
    }
    renderClient_->ReleaseBuffer(frames, 0);
}

void SoundPlayer::Release() {
    if (client_) client_->Stop();
    ReleaseAndClear(renderClient_);
    ReleaseAndClear(client_);
    ReleaseAndClear(device_);
    if (format_) CoTaskMemFree(format_);
    format_ = nullptr;
}
