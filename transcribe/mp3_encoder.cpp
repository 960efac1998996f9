#include "transcribe/mp3_encoder.h"

#include <lame/lame.h>

#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace {

constexpr int kSampleRate = 16000;
constexpr int kBitrateKbps = 64;
constexpr int kQuality = 2;

struct LameCloser {
    void operator()(lame_global_flags* context) const { lame_close(context); }
};
using LameContext = std::unique_ptr<lame_global_flags, LameCloser>;

// LAME takes buffer sizes as int; a larger buffer is simply offered up to INT_MAX bytes,
// never as a wrapped (negative) size.
int ClampedBufferSize(std::size_t bytes) {
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(bytes < kMax ? bytes : kMax);
}

// The setters' results are not examined: lame_init_params decides whether the set is usable.
void Configure(lame_global_flags* context) {
    lame_set_in_samplerate(context, kSampleRate);
    lame_set_out_samplerate(context, kSampleRate);
    lame_set_num_channels(context, 1);
    lame_set_mode(context, MONO);
    // Keep the bit reservoir within the decoder buffer that ISO guarantees, so any
    // conforming decoder on the server side can take the stream. (At 16 kHz the frame
    // format already bounds the reservoir this tightly; the setting costs nothing.)
    lame_set_strict_ISO(context, MDB_STRICT_ISO);
    lame_set_brate(context, kBitrateKbps);
    lame_set_quality(context, kQuality);
    // The Xing/Info frame can only be filled in by seeking back in a file; in memory it
    // would stay an empty frame at the head of the stream.
    lame_set_bWriteVbrTag(context, 0);
}

}  // namespace

bool EncodeMp3(const std::int16_t* samples, std::int32_t count, std::vector<std::uint8_t>& out) {
    if (samples == nullptr || count <= 0) {
        return false;
    }

    const LameContext context(lame_init());
    if (!context) {
        return false;
    }
    Configure(context.get());
    if (lame_init_params(context.get()) < 0) {
        return false;
    }

    // LAME's documented worst case for one encode plus its flush.
    const auto bound = static_cast<std::uint64_t>(1.25 * static_cast<double>(count) + 7200.0);
    try {
        out.resize(static_cast<std::size_t>(bound));
    } catch (const std::bad_alloc&) {
        return false;
    }

    const int encoded = lame_encode_buffer(context.get(), samples, nullptr, count, out.data(),
                                           ClampedBufferSize(out.size()));
    if (encoded < 0) {
        return false;
    }
    const auto encodedBytes = static_cast<std::size_t>(encoded);
    const int flushed = lame_encode_flush(context.get(), out.data() + encodedBytes,
                                          ClampedBufferSize(out.size() - encodedBytes));
    if (flushed < 0) {
        return false;
    }
    out.resize(encodedBytes + static_cast<std::size_t>(flushed));
    return true;
}
