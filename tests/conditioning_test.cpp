#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <ios>
#include <limits>
#include <vector>

#include "audio/conditioning.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kPi = 3.14159265358979323846;

// Left over from an earlier, longer packet: none of it may survive into a result.
template <typename T>
std::vector<T> Stale() {
    return std::vector<T>(64, T{7});
}

WAVEFORMATEXTENSIBLE MixFormat(WORD tag, WORD bits, WORD validBits = 0,
                               const GUID& subFormat = KSDATAFORMAT_SUBTYPE_PCM) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = tag;
    f.Format.wBitsPerSample = bits;
    f.Format.cbSize = tag == WAVE_FORMAT_EXTENSIBLE ? sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) : 0;
    f.Samples.wValidBitsPerSample = validBits;
    f.SubFormat = subFormat;
    return f;
}

Bytes LittleEndian(std::initializer_list<std::int64_t> values, int bytesPerValue) {
    Bytes out;
    for (std::int64_t v : values) {
        for (int b = 0; b < bytesPerValue; ++b) {
            out.push_back(static_cast<std::uint8_t>((static_cast<std::uint64_t>(v) >> (8 * b)) & 0xFF));
        }
    }
    return out;
}

// Converts a mono packet over a stale buffer.
std::vector<float> Convert(const Bytes& bytes, std::uint32_t samples, const WAVEFORMATEXTENSIBLE& format) {
    std::vector<float> out = Stale<float>();
    ConvertToFloat(bytes.data(), samples, 1, format.Format, out);
    return out;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

using Floats = std::vector<float>;

// ---- ConvertToFloat ----

TEST(ConvertToFloat, IntegerDepthsMapFullScaleToOne) {
    const auto pcm16 = MixFormat(WAVE_FORMAT_PCM, 16);
    EXPECT_EQ(Convert(LittleEndian({-32768, 32767, 0, 1}, 2), 4, pcm16),
              (Floats{-1.0f, 0.999969482421875f, 0.0f, 1.0f / 32768}));

    const Bytes pcm24Bytes{0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Convert(pcm24Bytes, 4, MixFormat(WAVE_FORMAT_PCM, 24)),
              (Floats{-1.0f, 8388607.0f / 8388608.0f, 0.0f, -1.0f / 8388608}));

    EXPECT_EQ(Convert(LittleEndian({INT32_MIN, INT32_MAX, 256, -1}, 4), 4, MixFormat(WAVE_FORMAT_PCM, 32)),
              (Floats{-1.0f, 1.0f, 1.0f / 8388608, -1.0f / 2147483648.0f}));
}

TEST(ConvertToFloat, ExtensibleIntegerFollowsItsContainer) {
    const Bytes pcm16 = LittleEndian({-32768, 16384}, 2);
    const Floats expected16{-1.0f, 0.5f};
    EXPECT_EQ(Convert(pcm16, 2, MixFormat(WAVE_FORMAT_EXTENSIBLE, 16, 0)), expected16);
    EXPECT_EQ(Convert(pcm16, 2, MixFormat(WAVE_FORMAT_EXTENSIBLE, 16, 16)), expected16);
    EXPECT_EQ(Convert(LittleEndian({0x400000, -0x800000}, 3), 2, MixFormat(WAVE_FORMAT_EXTENSIBLE, 24, 24)),
              (Floats{0.5f, -1.0f}));

    // Fewer valid bits than the container: the samples are left-justified in their
    // containers and must neither be read packed nor scaled by the valid bits.
    const Bytes valid24In32 = LittleEndian({0x7FFFFF00, INT32_MIN, 0x100, 0x40000000}, 4);
    EXPECT_EQ(Convert(valid24In32, 4, MixFormat(WAVE_FORMAT_EXTENSIBLE, 32, 24)),
              (Floats{8388607.0f / 8388608.0f, -1.0f, 1.0f / 8388608, 0.5f}));
    const Bytes valid20In24 = LittleEndian({0x7FFFF0, -0x800000, 0x10, 0x200000}, 3);
    EXPECT_EQ(Convert(valid20In24, 4, MixFormat(WAVE_FORMAT_EXTENSIBLE, 24, 20)),
              (Floats{524287.0f / 524288.0f, -1.0f, 1.0f / 524288, 0.25f}));
}

TEST(ConvertToFloat, FloatPacketsAreCopiedBitForBit) {
    Floats samples{0.25f, -0.0f, 3.5f, -1e-40f, kInf};
    std::uint32_t payloadNaN = 0x7FC01234;
    samples.push_back(0.0f);
    std::memcpy(&samples.back(), &payloadNaN, sizeof(float));
    Bytes bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    const auto n = static_cast<std::uint32_t>(samples.size());

    // wBitsPerSample does not matter to floats.
    EXPECT_TRUE(SameBits(Convert(bytes, n, MixFormat(WAVE_FORMAT_IEEE_FLOAT, 32)), samples));
    EXPECT_TRUE(SameBits(Convert(bytes, n, MixFormat(WAVE_FORMAT_IEEE_FLOAT, 16)), samples));
    EXPECT_TRUE(SameBits(
        Convert(bytes, n, MixFormat(WAVE_FORMAT_EXTENSIBLE, 32, 32, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)), samples));
}

TEST(ConvertToFloat, UnreadableFormatsGiveSilenceOfThePacketLength) {
    const Bytes bytes(64, 0x5A);
    WAVEFORMATEXTENSIBLE truncatedExtensible = MixFormat(WAVE_FORMAT_EXTENSIBLE, 16, 16);
    truncatedExtensible.Format.cbSize = 0;
    for (const auto& format : {MixFormat(WAVE_FORMAT_PCM, 8), MixFormat(WAVE_FORMAT_PCM, 20),
                               MixFormat(WAVE_FORMAT_PCM, 0), MixFormat(WAVE_FORMAT_EXTENSIBLE, 8, 16),
                               truncatedExtensible}) {
        std::vector<float> out = Stale<float>();
        ConvertToFloat(bytes.data(), 3, 2, format.Format, out);
        EXPECT_EQ(out, Floats(6, 0.0f)) << "bits " << format.Format.wBitsPerSample;
    }
    std::vector<float> out = Stale<float>();
    ConvertToFloat(nullptr, 3, 2, MixFormat(WAVE_FORMAT_IEEE_FLOAT, 32).Format, out);
    EXPECT_EQ(out, Floats(6, 0.0f));
}

TEST(ConvertToFloat, NoFramesOrNoChannelsEmptyTheOutput) {
    const Bytes bytes(64, 0x5A);
    const auto format = MixFormat(WAVE_FORMAT_PCM, 16);
    for (const auto& [frames, channels] : {std::pair<std::uint32_t, int>{0, 2}, {4, 0}, {4, -2}}) {
        std::vector<float> out = Stale<float>();
        ConvertToFloat(bytes.data(), frames, channels, format.Format, out);
        EXPECT_TRUE(out.empty()) << frames << " frames, " << channels << " channels";
    }
}

// ---- DownmixToMono ----

std::vector<float> Downmix(const Floats& in, int frames, int channels) {
    std::vector<float> out = Stale<float>();
    DownmixToMono(in.data(), frames, channels, out);
    return out;
}

TEST(DownmixToMono, AveragesTheChannelsOfEachFrame) {
    EXPECT_EQ(Downmix({0.5f, -0.5f, 0.25f, 0.75f}, 2, 2), (Floats{0.0f, 0.5f}));
    EXPECT_EQ(Downmix({1.0f, 1.0f, 1.0f}, 1, 3), (Floats{1.0f}));
    // The sum is kept in double: it neither overflows nor loses the small channel.
    const float big = std::numeric_limits<float>::max();
    EXPECT_EQ(Downmix({big, big}, 1, 2), (Floats{big}));
    EXPECT_EQ(Downmix({1.0f, 1.0f, 0x1p-40f}, 1, 3), (Floats{static_cast<float>((2.0 + 0x1p-40) / 3.0)}));
}

TEST(DownmixToMono, MonoIsCopiedBitForBit) {
    const Floats mono{-0.0f, 0.1f, kNaN, -kInf};
    EXPECT_TRUE(SameBits(Downmix(mono, 4, 1), mono));
}

TEST(DownmixToMono, BadCountsEmptyTheOutputAndNullInputIsSilence) {
    const Floats in(8, 0.5f);
    EXPECT_TRUE(Downmix(in, 0, 2).empty());
    EXPECT_TRUE(Downmix(in, -3, 2).empty());
    EXPECT_TRUE(Downmix(in, 4, 0).empty());
    EXPECT_TRUE(Downmix(in, 4, -1).empty());
    std::vector<float> out = Stale<float>();
    DownmixToMono(nullptr, 3, 2, out);
    EXPECT_EQ(out, Floats(3, 0.0f));
}

// ---- UpdateLevelMeter ----

class LevelMeter : public ::testing::Test {
protected:
    void SetUp() override { g_levelDb = -90.0f; }

    static float LevelAfter(const Floats& packet) {
        UpdateLevelMeter(packet.data(), static_cast<int>(packet.size()));
        return g_levelDb;
    }
};

TEST_F(LevelMeter, EmptyPacketsLeaveTheLevel) {
    const Floats loud(16, 1.0f);
    UpdateLevelMeter(loud.data(), 0);
    UpdateLevelMeter(loud.data(), -5);
    UpdateLevelMeter(nullptr, 16);
    EXPECT_EQ(g_levelDb, -90.0f);
}

TEST_F(LevelMeter, FallsSixtyAndRisesNinetyPercentTowardTheClampedLevel) {
    for (std::size_t length : {1u, 480u}) {
        g_levelDb = -90.0f;
        EXPECT_EQ(LevelAfter(Floats(length, 0.0f)), -108.0f) << length;
    }
    for (const Floats& fullScale : {Floats{1.0f, -1.0f, 1.0f}, Floats(480, -1.0f), Floats{4.0f, -3.0f}}) {
        g_levelDb = -90.0f;
        EXPECT_EQ(LevelAfter(fullScale), -9.0f);
    }
    // Each packet closes the stated share of the remaining gap.
    g_levelDb = -90.0f;
    LevelAfter(Floats(8, 0.0f));
    EXPECT_FLOAT_EQ(LevelAfter(Floats(8, 0.0f)), -115.2f);
}

TEST_F(LevelMeter, FullScaleSineMeasuresMinusThreeDb) {
    Floats sine(480);
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<float>(std::sin(2.0 * kPi * 1000.0 * static_cast<double>(i) / 48000.0));
    }
    // Started at the expected measurement, the smoothed level stays there.
    const float expected = static_cast<float>(20.0 * std::log10(std::sqrt(0.5)));
    g_levelDb = expected;
    EXPECT_NEAR(LevelAfter(sine), -3.0103, 1e-3);
    g_levelDb = -90.0f;
    EXPECT_NEAR(LevelAfter(sine), -90.0 + 0.9 * (-3.0103 + 90.0), 1e-3);
}

TEST_F(LevelMeter, NonFiniteSamplesKeepTheLevelFinite) {
    // NaN counts as silence: one half-full-scale and one NaN sample measure like (1, 0).
    const float halfSilent = LevelAfter({1.0f, 0.0f});
    g_levelDb = -90.0f;
    EXPECT_EQ(LevelAfter({1.0f, kNaN}), halfSilent);
    g_levelDb = -90.0f;
    EXPECT_EQ(LevelAfter(Floats(8, kNaN)), -108.0f);
    g_levelDb = -90.0f;
    EXPECT_EQ(LevelAfter({kInf, -kInf, 0.0f}), -9.0f);
    EXPECT_TRUE(std::isfinite(LevelAfter({kNaN, kInf})));
    EXPECT_TRUE(std::isfinite(LevelAfter(Floats(4, 0.1f))));
}

// ---- ResampleTo16k ----

std::vector<float> Resample(const Floats& in, int rate) {
    std::vector<float> out = Stale<float>();
    ResampleTo16k(in.data(), static_cast<int>(in.size()), rate, out);
    return out;
}

Floats Ramp(std::size_t n) {
    Floats r(n);
    for (std::size_t i = 0; i < n; ++i) {
        r[i] = 0.25f * static_cast<float>(i) - 0.001f * static_cast<float>(i * i % 7);
    }
    return r;
}

TEST(ResampleTo16k, From48kHzTakesEveryThirdSample) {
    const Floats in = Ramp(480);
    const Floats out = Resample(in, 48000);
    ASSERT_EQ(out.size(), 160u);
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i], in[3 * i]) << i;
    }
    EXPECT_EQ(Resample(Ramp(448), 48000).size(), 149u);
}

TEST(ResampleTo16k, From44100HzInterpolatesLinearly) {
    Floats line(441);
    for (std::size_t i = 0; i < line.size(); ++i) {
        line[i] = 0.25f * static_cast<float>(i);
    }
    const Floats out = Resample(line, 44100);
    ASSERT_EQ(out.size(), 160u);
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_NEAR(out[i], 0.25 * static_cast<double>(i) * 44100.0 / 16000.0, 1e-4) << i;
    }
}

TEST(ResampleTo16k, UpsamplingHoldsTheLastSample) {
    EXPECT_EQ(Resample({0.25f, 1.0f}, 8000), (Floats{0.25f, 0.625f, 1.0f, 1.0f}));
    EXPECT_EQ(Resample({-0.5f}, 8000), (Floats{-0.5f, -0.5f}));
}

TEST(ResampleTo16k, At16kHzTheOutputIsTheInput) {
    const Floats in{0.1f, -0.7f, 1e-30f, 0.3f, -1e30f};
    EXPECT_TRUE(SameBits(Resample(in, 16000), in));
}

TEST(ResampleTo16k, NothingToResampleEmptiesTheOutput) {
    const Floats in = Ramp(10);
    EXPECT_TRUE(Resample({}, 48000).empty());
    EXPECT_TRUE(Resample(in, 0).empty());
    EXPECT_TRUE(Resample(in, -48000).empty());
    EXPECT_TRUE(Resample({0.5f, 0.5f}, 48000).empty());  // under one output sample
    // So many outputs that an int could not count them.
    std::vector<float> out = Stale<float>();
    ResampleTo16k(in.data(), 200000, 1, out);
    EXPECT_TRUE(out.empty());
    ResampleTo16k(nullptr, 6, 48000, out);
    EXPECT_EQ(out, Floats(2, 0.0f));
}

// ---- FloatToInt16 ----

std::vector<std::int16_t> Quantise(const Floats& in) {
    std::vector<std::int16_t> out = Stale<std::int16_t>();
    FloatToInt16(in.data(), static_cast<int>(in.size()), out);
    return out;
}

using Int16s = std::vector<std::int16_t>;

TEST(FloatToInt16, ClampsScalesBy32767AndRoundsHalfAway) {
    EXPECT_EQ(Quantise({1.5f, -1.5f, 1.0f, -1.0f, 0.5f, -0.5f, 0.0f, -0.0f}),
              (Int16s{32767, -32767, 32767, -32767, 16384, -16384, 0, 0}));
    EXPECT_EQ(Quantise({0.75f / 32767.0f, -0.75f / 32767.0f, 1.4f / 32767.0f, -1.6f / 32767.0f}),
              (Int16s{1, -1, 1, -2}));
}

TEST(FloatToInt16, NonFiniteSamplesStayInRange) {
    EXPECT_EQ(Quantise({kNaN, -kNaN, kInf, -kInf, std::numeric_limits<float>::max()}),
              (Int16s{0, 0, 32767, -32767, 32767}));
}

TEST(FloatToInt16, BadCountsEmptyTheOutputAndNullInputIsSilence) {
    EXPECT_TRUE(Quantise({}).empty());
    std::vector<std::int16_t> out = Stale<std::int16_t>();
    const Floats in{0.5f};
    FloatToInt16(in.data(), -1, out);
    EXPECT_TRUE(out.empty());
    FloatToInt16(nullptr, 3, out);
    EXPECT_EQ(out, Int16s(3, 0));
}

// ---- Rounding boundaries ----
// Every step fixes the precision of its intermediate results. These inputs sit where
// another precision, rounding rule or order of operations changes the result.

TEST(ConvertToFloat, FloatSubFormatIsMatchedAsAWholeGuid) {
    // Equal to the float sub-format in its first field only: integer samples.
    GUID nearFloat[3] = {KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT,
                         KSDATAFORMAT_SUBTYPE_IEEE_FLOAT};
    nearFloat[0].Data2 ^= 1;
    nearFloat[1].Data3 ^= 1;
    nearFloat[2].Data4[7] ^= 1;
    const Bytes packet = LittleEndian({-32768, 16384, 0, 0}, 2);  // long enough to be read as floats too
    for (const GUID& subFormat : nearFloat) {
        EXPECT_EQ(Convert(packet, 2, MixFormat(WAVE_FORMAT_EXTENSIBLE, 16, 16, subFormat)), (Floats{-1.0f, 0.5f}));
    }
}

TEST(DownmixToMono, DividesTheDoubleSumByTheChannelCount) {
    // The six channels average to 1 + 2^-24 + 2^-50 / 6, a hair above the midpoint
    // between the floats 1 and 1 + 2^-23; multiplying by a rounded 1/6 loses the hair.
    EXPECT_EQ(Downmix({1.0f, 1.0f, 1.0f, 1.0f + 0x3p-23f, 2.0f, 0x1p-50f}, 1, 6), (Floats{1.0f + 0x1p-23f}));
}

TEST_F(LevelMeter, SumsTheSquaresInDouble) {
    // 2^-12 squared is half a single-precision step of 1: added to 1 in single, it is lost.
    Floats loudFirst(257, 0x1p-12f);
    loudFirst[0] = 1.0f;
    Floats loudLast(257, 0x1p-12f);
    loudLast[256] = 1.0f;
    Floats loudAlone(257, 0.0f);
    loudAlone[0] = 1.0f;
    const float first = LevelAfter(loudFirst);
    g_levelDb = -90.0f;
    EXPECT_EQ(LevelAfter(loudLast), first);
    g_levelDb = -90.0f;
    EXPECT_GT(first, LevelAfter(loudAlone));
}

TEST_F(LevelMeter, OffsetLiftsTheFloorByAStep) {
    // RMS 1e-6 is -120 dB, the floor; the 1e-12 offset lifts it by one single-precision
    // step, so the level rises from the floor.
    g_levelDb = -120.0f;
    EXPECT_GT(LevelAfter(Floats(16, 1e-6f)), -120.0f);
}

TEST(ResampleTo16k, KeepsEachStepInItsPrecision) {
    // A loud sample beside a nearly silent one: the low bits of the output between them
    // show the position (divided in double), the single difference and the double
    // interpolation.
    struct Case {
        int output, input;
        float a, b, expected;
    };
    const Case cases[] = {
        {9, 24, 0x1.2p-16f, -0x1.6p-37f, 0x1.be661ap-19f},    // position 24.80625
        {46, 126, 0x1.ap-16f, -0x1.8p-39f, 0x1.61998cp-18f},  // position 126.7875
    };
    Floats in(441, 0.0f);
    for (const Case& c : cases) {
        in[c.input] = c.a;
        in[c.input + 1] = c.b;
    }
    const Floats out = Resample(in, 44100);
    ASSERT_EQ(out.size(), 160u);
    for (const Case& c : cases) {
        EXPECT_EQ(out[c.output], c.expected) << "output " << c.output << ": " << std::hexfloat << out[c.output];
    }
    // 76 * (16000 / 9728) is 125, but with the ratio rounded to double 124.99999999999999.
    EXPECT_EQ(Resample(Floats(76, 0.0f), 9728).size(), 124u);
}

TEST(FloatToInt16, RoundsTheSingleProductHalfAwayFromZero) {
    // x * 32767 rounds in single to exactly 2.5, 1.5 or 32766.5, a hair off the exact
    // product: only the single product rounded half away from zero gives n + 1.
    const struct {
        float in;
        std::int16_t out;
    } cases[] = {{0x1.40028p-14f, 3}, {-0x1.40028p-14f, -3}, {0x1.8003p-15f, 2}, {0x1.fffep-1f, 32767}};
    for (const auto& c : cases) EXPECT_EQ(Quantise({c.in}), (Int16s{c.out})) << c.in;
}

}  // namespace
