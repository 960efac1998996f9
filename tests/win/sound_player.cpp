#include "tests/win/sound_player.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstring>

namespace {

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

std::vector<std::uint8_t> WaveImage(const std::vector<std::int16_t>& samples) {
    constexpr std::uint32_t kRate = 16000;
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    std::vector<std::uint8_t> image;
    PutTag(image, "RIFF");
    PutLittleEndian(image, 36 + dataBytes, 4);
    PutTag(image, "WAVE");
    PutTag(image, "fmt ");
    PutLittleEndian(image, 16, 4);
    PutLittleEndian(image, WAVE_FORMAT_PCM, 2);
    PutLittleEndian(image, 1, 2);  // mono
    PutLittleEndian(image, kRate, 4);
    PutLittleEndian(image, kRate * 2, 4);
    PutLittleEndian(image, 2, 2);   // block align
    PutLittleEndian(image, 16, 2);  // bits
    PutTag(image, "data");
    PutLittleEndian(image, dataBytes, 4);
    const std::size_t header = image.size();
    image.resize(header + dataBytes);
    std::memcpy(image.data() + header, samples.data(), dataBytes);
    return image;
}

}  // namespace

SoundPlayer::~SoundPlayer() { Stop(); }

bool SoundPlayer::Play(const std::vector<std::int16_t>& samples16k) {
    Stop();
    wave_ = WaveImage(samples16k);
    return PlaySoundW(reinterpret_cast<LPCWSTR>(wave_.data()), nullptr, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
}

void SoundPlayer::Stop() {
    // Returns once the sound has stopped, so the image can go.
    PlaySoundW(nullptr, nullptr, 0);
    wave_.clear();
}
