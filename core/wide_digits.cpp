#include "core/wide_digits.h"

#include <cstdint>

namespace {

// The zero of each run of ten digits that msvcrt's conversion accepts: ASCII,
// Arabic-Indic, Extended Arabic-Indic, Devanagari, Bengali, Gurmukhi, Gujarati, Oriya,
// Telugu, Kannada, Malayalam, Thai, Lao, Tibetan, Myanmar, Khmer, Mongolian, full-width.
// Digits of scripts missing here (Tamil, Sinhala, N'Ko, ...) and superscripts pass
// iswdigit but end the number, so they are left out on purpose.
constexpr std::uint32_t kDigitZeros[] = {0x0030, 0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0C66,
                                         0x0CE6, 0x0D66, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0x17E0, 0x1810, 0xFF10};

struct Range {
    std::uint32_t first, last;
};

// iswspace's class: tab..carriage return, space, no-break space, Ogham space mark,
// en quad..hair space, line and paragraph separators, narrow no-break space, medium
// mathematical space, ideographic space.
constexpr Range kSpaces[] = {{0x0009, 0x000D}, {0x0020, 0x0020}, {0x00A0, 0x00A0}, {0x1680, 0x1680},
                             {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F},
                             {0x3000, 0x3000}};

// A code unit as an unsigned number, whatever the signedness and width of wchar_t.
std::uint32_t CodeUnit(wchar_t c) { return static_cast<std::uint32_t>(c); }

}  // namespace

int WideDigitValue(wchar_t c) {
    const std::uint32_t unit = CodeUnit(c);
    for (const std::uint32_t zero : kDigitZeros) {
        if (unit >= zero && unit <= zero + 9) return static_cast<int>(unit - zero);
    }
    return -1;
}

bool IsWideSpace(wchar_t c) {
    const std::uint32_t unit = CodeUnit(c);
    for (const Range& range : kSpaces) {
        if (unit >= range.first && unit <= range.last) return true;
    }
    return false;
}
