// Failure codes as the log shows them: the 32-bit value in lower-case hexadecimal,
// without width or leading zeros, after "hr=0x".
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string HresultText(HRESULT hr) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%lx", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
    return std::string("hr=0x") + digits;
}
