// Digits and white space of wide text as the Windows C library's wide `long`
// conversion (msvcrt's wcstol) reads them, held as tables so that the number
// fields parse alike on every platform.
#pragma once

// The value 0..9 of a decimal digit of ASCII or of one of the scripts that the
// conversion knows (full-width U+FF10-U+FF19 among them); -1 for any other code unit.
int WideDigitValue(wchar_t c);

// True for the code units that the conversion skips before a number: ASCII tab to
// carriage return and space, and the Unicode spaces such as U+3000.
bool IsWideSpace(wchar_t c);
