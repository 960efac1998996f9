// The only conversions between the system's UTF-8 text and the window system's UTF-16.
#pragma once

#include <string>

// Empty in, empty out; a conversion the platform refuses gives an empty string.
// Malformed input comes out as U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
