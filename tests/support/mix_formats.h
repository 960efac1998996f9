// Mix format records as capture devices report them.
#pragma once

#include "audio/mix_format.h"

inline WAVEFORMATEX MakePcmFormat(DWORD rate, WORD channels, WORD bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

inline WAVEFORMATEX MakeFloatFormat(DWORD rate, WORD channels) {
    WAVEFORMATEX f = MakePcmFormat(rate, channels, 32);
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    return f;
}

// An extensible record; `subFormat` decides float or integer.
inline WAVEFORMATEXTENSIBLE MakeExtensibleFormat(DWORD rate, WORD channels, WORD containerBits, WORD validBits,
                                                 const GUID& subFormat) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format = MakePcmFormat(rate, channels, containerBits);
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    f.Samples.wValidBitsPerSample = validBits;
    f.SubFormat = subFormat;
    return f;
}
