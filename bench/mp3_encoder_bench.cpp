// EncodeMp3 on a 7 s and a 30 s chunk, as a fraction of the audio's duration, against
// the bare LAME call sequence with the same settings on the same samples. The two are
// timed in alternating order, round after round, so that load from other processes
// falls on both alike; the minimum of each is compared.
#include <benchmark/benchmark.h>
#include <lame/lame.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "tests/support/test_signal.h"
#include "transcribe/mp3_encoder.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 15;

// The library alone: same settings, an uninitialised buffer of the same size, no shrink.
int BareLame(const std::vector<std::int16_t>& samples) {
    lame_global_flags* context = lame_init();
    lame_set_in_samplerate(context, 16000);
    lame_set_out_samplerate(context, 16000);
    lame_set_num_channels(context, 1);
    lame_set_mode(context, MONO);
    lame_set_strict_ISO(context, MDB_STRICT_ISO);
    lame_set_brate(context, 64);
    lame_set_quality(context, 2);
    lame_set_bWriteVbrTag(context, 0);
    lame_init_params(context);
    const int count = static_cast<int>(samples.size());
    const int size = count + count / 4 + 7200;
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(size)]);
    const int encoded = lame_encode_buffer(context, samples.data(), nullptr, count, buffer.get(), size);
    const int flushed = lame_encode_flush(context, buffer.get() + encoded, size - encoded);
    benchmark::DoNotOptimize(buffer.get());
    lame_close(context);
    return encoded + flushed;
}

std::size_t Wrapped(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> mp3;
    EncodeMp3(samples.data(), static_cast<std::int32_t>(samples.size()), mp3);
    benchmark::DoNotOptimize(mp3.data());
    return mp3.size();
}

template <typename Encode>
double Seconds(Encode encode) {
    const auto start = Clock::now();
    encode();
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Compare(int seconds) {
    const auto samples = test_signal::SpeechLike(static_cast<std::size_t>(seconds) * 16000, 1);
    const double audio = seconds;
    if (static_cast<std::size_t>(BareLame(samples)) != Wrapped(samples)) {
        std::printf("%2d s chunk: EncodeMp3 and bare LAME disagree on the stream size\n", seconds);
    }
    std::vector<double> wrapped;
    std::vector<double> bare;
    for (int round = 0; round < kRounds; ++round) {
        const auto timeWrapped = [&] { wrapped.push_back(Seconds([&] { Wrapped(samples); })); };
        const auto timeBare = [&] { bare.push_back(Seconds([&] { BareLame(samples); })); };
        if (round % 2 == 0) {
            timeWrapped();
            timeBare();
        } else {
            timeBare();
            timeWrapped();
        }
    }
    const double wrappedMin = *std::min_element(wrapped.begin(), wrapped.end());
    const double bareMin = *std::min_element(bare.begin(), bare.end());
    std::printf("%2d s chunk  EncodeMp3 %7.1f ms (median %7.1f) = %.4f of audio   "
                "bare LAME %7.1f ms (median %7.1f) = %.4f of audio   ratio %.3f (medians %.3f)\n",
                seconds, wrappedMin * 1e3, Median(wrapped) * 1e3, wrappedMin / audio, bareMin * 1e3,
                Median(bare) * 1e3, bareMin / audio, wrappedMin / bareMin, Median(wrapped) / Median(bare));
}

}  // namespace

int main() {
    std::printf("MP3 encoding, 16 kHz mono 64 kbit/s, minimum of %d rounds (target ratio within 1.05)\n",
                kRounds);
    Compare(7);
    Compare(30);
    return 0;
}
