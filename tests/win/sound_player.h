// Plays 16 kHz mono 16-bit samples through the default render endpoint, which in the
// test bed is the null sink whose monitor the capture stream records.
#pragma once

#include <cstdint>
#include <vector>

class SoundPlayer {
public:
    SoundPlayer() = default;
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts playing and returns at once; false when the system refused the sound.
    bool Play(const std::vector<std::int16_t>& samples16k);
    void Stop();

private:
    std::vector<std::uint8_t> wave_;  // the RIFF image, alive while it plays
};
