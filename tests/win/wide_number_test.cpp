// ParseInt32Prefix against the wcstol of the C library that this build's programs
// link (msvcrt.dll with MinGW-w64's default runtime): every UTF-16 code unit in every
// role, and mixed strings.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings.h"

namespace {

static_assert(sizeof(long) == 4 && sizeof(wchar_t) == 2, "a Windows long and UTF-16 code units");

using WideToLong = long (*)(const wchar_t*, wchar_t**, int);

// wcstol of msvcrt.dll, the C library of MinGW-w64's default runtime that this build's
// programs import; null when that library is not in the process.
WideToLong LibraryWcstol() {
    const HMODULE crt = GetModuleHandleW(L"msvcrt.dll");
    return crt ? reinterpret_cast<WideToLong>(reinterpret_cast<void*>(GetProcAddress(crt, "wcstol"))) : nullptr;
}

// The C library's reading: nothing when it takes no digit or the number overflows its long.
std::optional<std::int32_t> LibraryParse(const std::wstring& text) {
    static const WideToLong wcstol = LibraryWcstol();
    wchar_t* end = nullptr;
    errno = 0;
    const long value = wcstol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// The texts on which the two readings differ, as code units in hex, at most 20 of them.
std::string Disagreements(const std::vector<std::wstring>& texts) {
    std::ostringstream out;
    int shown = 0;
    for (const std::wstring& text : texts) {
        if (ParseInt32Prefix(text) == LibraryParse(text)) continue;
        if (++shown > 20) break;
        out << "\n ";
        for (const wchar_t unit : text) out << ' ' << std::hex << static_cast<unsigned>(unit);
    }
    return out.str();
}

class WideNumbers : public ::testing::Test {
protected:
    // The comparison means something only against the library the program uses.
    void SetUp() override {
        ASSERT_NE(LibraryWcstol(), nullptr);
        ASSERT_EQ(GetModuleHandleW(L"ucrtbase.dll"), nullptr);
    }
};

TEST_F(WideNumbers, EveryCodeUnitAsLeadDigitAndTerminator) {
    std::vector<std::wstring> texts;
    for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
        const auto c = static_cast<wchar_t>(unit);
        texts.insert(texts.end(), {{c}, {c, L'7'}, {c, c, L'7'}, {c, L'-', L'7'}, {L'-', c, L'7'}, {L'4', c},
                                   {L'4', c, L'2'}, {L'4', c, c}});
    }
    EXPECT_EQ(Disagreements(texts), "");
}

TEST_F(WideNumbers, MixedStrings) {
    EXPECT_EQ(Disagreements({
                  L"", L" ", L"\u3000\u3000", L"\t\u00A0\u2028",                     // empty, only spaces
                  L"+", L"-", L"+-1", L"--1", L"\u3000+9", L"+0", L"-0",                 // signs
                  L"\uFF0B5", L"\uFF0D5", L"\u22125",                                   // signs of other forms
                  L"2147483647", L"2147483648", L"-2147483648", L"-2147483649",       // the 32-bit range
                  L"\uFF12\uFF11\uFF14\uFF17\uFF14\uFF18\uFF13\uFF16\uFF14\uFF17",  // and in full-width
                  L"\uFF12\uFF11\uFF14\uFF17\uFF14\uFF18\uFF13\uFF16\uFF14\uFF18",
                  L"-\u0662\u0661\u0664\u0667\u0664\u0668\u0663\u0666\u0664\u0669",
                  L"00000000000000000000042", L"99999999999999999999",               // long digit runs
                  L"\uFF19\uFF10\uFF19\uFF10", L"12\u3000 34", L"1\u0967\u0E52x",    // mixed scripts and spaces
                  L"0x1A", L"1e3", L"\uFEFF5", L"\u200B5", L"\u00855"}),
              "");
}

}  // namespace
