#include "server/tests/support/mp3_encoding.h"

#include <lame/lame.h>

#include <memory>
#include <stdexcept>

namespace speech_server::testing {

std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& samples, int sample_rate, int channels) {
    std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
    if (!lame) throw std::runtime_error("lame_init failed");
    lame_set_in_samplerate(lame.get(), sample_rate);
    lame_set_out_samplerate(lame.get(), sample_rate);
    lame_set_num_channels(lame.get(), channels);
    lame_set_mode(lame.get(), channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame.get(), 64);
    if (lame_init_params(lame.get()) < 0) throw std::runtime_error("lame_init_params failed");

    const int frames = static_cast<int>(samples.size() / static_cast<std::size_t>(channels));
    // LAME's documented worst case: 1.25 × samples + 7200 bytes.
    std::vector<std::uint8_t> mp3(static_cast<std::size_t>(frames) * 5 / 4 + 7200 + 7200);
    const int written =
        channels == 1 ? lame_encode_buffer(lame.get(), samples.data(), samples.data(), frames, mp3.data(),
                                           static_cast<int>(mp3.size()))
                      : lame_encode_buffer_interleaved(lame.get(), const_cast<short*>(samples.data()), frames,
                                                       mp3.data(), static_cast<int>(mp3.size()));
    if (written < 0) throw std::runtime_error("lame_encode_buffer failed");
    const int flushed = lame_encode_flush(lame.get(), mp3.data() + written, static_cast<int>(mp3.size()) - written);
    if (flushed < 0) throw std::runtime_error("lame_encode_flush failed");
    mp3.resize(static_cast<std::size_t>(written + flushed));
    return mp3;
}

}  // namespace speech_server::testing
