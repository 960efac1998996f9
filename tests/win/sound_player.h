// Plays 16 kHz mono 16-bit samples through the default render endpoint, which in the
// test bed is the null sink whose monitor the capture stream records. A thread of its
// own keeps a one-second buffer full, so a busy machine does not make the sound
// stutter. Each sample is held for rate / 16000 frames, which the capture's reduction
// to 16 kHz turns back into the very same samples.
#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

class SoundPlayer {
public:
    SoundPlayer() = default;
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts playing and returns at once. False when the endpoint cannot play it: no
    // device, or a mix format that is not float at a whole multiple of 16000 Hz.
    bool Play(const std::vector<std::int16_t>& samples16k);
    // Ends the sound, played out or not, and releases the stream.
    void Stop();

private:
    void Run(std::promise<bool> opened);
    bool Open();
    void Fill(UINT32 frames);
    void Release();

    std::vector<std::int16_t> samples_;
    std::size_t nextFrame_ = 0;  // in render frames
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioRenderClient* renderClient_ = nullptr;
    WAVEFORMATEX* format_ = nullptr;
    UINT32 bufferFrames_ = 0;
    std::thread renderer_;
    std::atomic<bool> stop_{false};
};
