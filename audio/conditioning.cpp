#include "audio/conditioning.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>

std::atomic<float> g_levelDb{-90.0f};

namespace {

// How the bytes of a packet are to be read.
enum class SampleLayout { Float32, Int16, Int24, Int32, Unreadable };

// Bytes that follow the basic record in the extensible form.
constexpr std::size_t kExtensibleExtraBytes = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

SampleLayout LayoutOf(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        return SampleLayout::Float32;
    }
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        // A record too short for its extension has no sub-format that could be trusted.
        if (format.cbSize < kExtensibleExtraBytes) {
            return SampleLayout::Unreadable;
        }
        // Copied out: the record is packed, so the GUID may sit at any address.
        GUID subFormat;
        std::memcpy(&subFormat,
                    reinterpret_cast<const unsigned char*>(&format) + offsetof(WAVEFORMATEXTENSIBLE, SubFormat),
                    sizeof(subFormat));
        if (subFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) {
            return SampleLayout::Float32;
        }
    }
    // Integer samples sit in containers of wBitsPerSample bits with any valid bits
    // left-justified, so the container alone gives the stride and the full scale;
    // wValidBitsPerSample (e.g. 24 in 32, 20 in 24) changes neither.
    switch (format.wBitsPerSample) {
    case 16:
        return SampleLayout::Int16;
    case 24:
        return SampleLayout::Int24;
    case 32:
        return SampleLayout::Int32;
    default:
        return SampleLayout::Unreadable;
    }
}

// Little-endian sample readers, independent of the host's byte order.
std::int16_t ReadInt16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

std::int32_t ReadInt24(const std::uint8_t* p) {
    std::int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    if (v & 0x800000) {
        v -= 0x1000000;
    }
    return v;
}

std::int32_t ReadInt32(const std::uint8_t* p) {
    const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(u);
}

template <typename T>
void FillWithZeros(std::vector<T>& out) {
    std::fill(out.begin(), out.end(), T{});
}

}  // namespace

void ConvertToFloat(const std::uint8_t* data, std::uint32_t frames, int channels, const WAVEFORMATEX& mixFormat,
                    std::vector<float>& out) {
    // Without channels a frame holds no samples.
    if (channels <= 0) {
        out.clear();
        return;
    }
    const std::uint32_t count = frames * static_cast<std::uint32_t>(channels);
    out.resize(count);
    float* dst = out.data();
    switch (data ? LayoutOf(mixFormat) : SampleLayout::Unreadable) {
    case SampleLayout::Float32:
        std::memcpy(dst, data, std::size_t{count} * sizeof(float));
        break;
    case SampleLayout::Int16:
        for (std::size_t k = 0; k < count; ++k) {
            dst[k] = static_cast<float>(ReadInt16(data + 2 * k)) / 32768.0f;
        }
        break;
    case SampleLayout::Int24:
        for (std::size_t k = 0; k < count; ++k) {
            dst[k] = static_cast<float>(ReadInt24(data + 3 * k)) / 8388608.0f;
        }
        break;
    case SampleLayout::Int32:
        for (std::size_t k = 0; k < count; ++k) {
            dst[k] = static_cast<float>(static_cast<double>(ReadInt32(data + 4 * k)) / 2147483648.0);
        }
        break;
    case SampleLayout::Unreadable:
        // Silence of the packet's length keeps the time line; nothing stale survives.
        FillWithZeros(out);
        break;
    }
}

void DownmixToMono(const float* in, int frames, int channels, std::vector<float>& out) {
    if (frames <= 0 || channels <= 0) {
        out.clear();
        return;
    }
    out.resize(static_cast<std::size_t>(frames));
    float* dst = out.data();
    if (!in) {
        FillWithZeros(out);
    } else if (channels == 1) {
        std::memcpy(dst, in, out.size() * sizeof(float));
    } else {
        for (std::size_t i = 0; i < out.size(); ++i) {
            const float* frame = in + i * static_cast<std::size_t>(channels);
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) {
                sum += static_cast<double>(frame[c]);
            }
            dst[i] = static_cast<float>(sum / channels);
        }
    }
}

void UpdateLevelMeter(const float* in, int count) {
    if (!in || count <= 0) {
        return;
    }
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        const double x = static_cast<double>(in[i]);
        const double square = x * x;
        // A NaN sample counts as silence; added, it would stick in the level for good.
        // Infinities need nothing: they measure as full scale through the clamp below.
        if (!std::isnan(square)) {
            sum += square;
        }
    }
    const double rms = std::sqrt(sum / count);
    float level = static_cast<float>(20.0 * std::log10(rms + 1e-12));
    if (level > 0.0f) {
        level = 0.0f;
    }
    if (level < -120.0f) {
        level = -120.0f;
    }
    const float old = g_levelDb.load();
    // A rise shows quickly, a fall decays more slowly.
    const float k = level > old ? 0.9f : 0.6f;
    g_levelDb.store(old + k * (level - old));
}

void ResampleTo16k(const float* in, int count, int rate, std::vector<float>& out) {
    if (count <= 0 || rate <= 0) {
        out.clear();
        return;
    }
    const double ratio = 16000.0 / rate;
    const double outputs = std::floor(count * ratio);
    // An absurdly low rate could ask for more outputs than an int can count.
    if (outputs < 1.0 || outputs > static_cast<double>(INT_MAX)) {
        out.clear();
        return;
    }
    const int n = static_cast<int>(outputs);
    out.resize(static_cast<std::size_t>(n));
    if (!in) {
        FillWithZeros(out);
        return;
    }
    float* dst = out.data();
    const int last = count - 1;
    for (int i = 0; i < n; ++i) {
        // Divided by the ratio, not multiplied by its inverse, so that 48 kHz lands
        // exactly on every third input.
        double pos = i / ratio;
        if (pos > last) {
            pos = last;
        }
        const int i0 = static_cast<int>(pos);
        const int i1 = i0 < last ? i0 + 1 : last;
        const double frac = pos - i0;
        const float a = in[i0];
        const float d = in[i1] - a;
        dst[i] = static_cast<float>(static_cast<double>(a) + frac * static_cast<double>(d));
    }
}

void FloatToInt16(const float* in, int count, std::vector<std::int16_t>& out) {
    if (count <= 0) {
        out.clear();
        return;
    }
    out.resize(static_cast<std::size_t>(count));
    if (!in) {
        FillWithZeros(out);
        return;
    }
    std::int16_t* dst = out.data();
    for (int i = 0; i < count; ++i) {
        float x = in[i];
        // NaN is taken as silence: it must never reach the integer conversion.
        if (std::isnan(x)) {
            x = 0.0f;
        }
        if (x > 1.0f) {
            x = 1.0f;
        }
        if (x < -1.0f) {
            x = -1.0f;
        }
        // |x| <= 1 keeps the rounded value within [-32767, 32767].
        dst[i] = static_cast<std::int16_t>(std::lround(x * 32767.0f));
    }
}
