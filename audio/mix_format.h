// The audio engine's mix format record. On Windows it is the platform's own
// WAVEFORMATEX / WAVEFORMATEXTENSIBLE; elsewhere an identical small definition, so
// that the conditioning code and its tests build unchanged on every system.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
#else
#include <cstdint>
#include <cstring>

using WORD = std::uint16_t;
using DWORD = std::uint32_t;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

#pragma pack(push, 1)
struct WAVEFORMATEXTENSIBLE {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
};
#pragma pack(pop)

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX must match the platform layout");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE must match the platform layout");
#endif
