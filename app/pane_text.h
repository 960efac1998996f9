// Text preparation for the log pane. A multi-line edit control breaks lines only at
// CR LF and stops at the first NUL, while log lines end in a bare LF and server text
// may hold anything. These functions work on UTF-16 text (wchar_t on Windows) and are
// kept apart from the window code so that they are tested on every system.
#pragma once

#include <cstddef>
#include <string>

// Converts text for insertion into the pane: every LF not preceded by CR becomes
// CR LF and every NUL becomes U+FFFD. `endsInCr` carries over from the previous
// insertion, so that a CR LF split between two insertions stays one line break.
std::wstring ToPaneText(const std::wstring& text, bool& endsInCr);

// How many leading units to remove from `paneText` so that at least `excess` go and
// the pane then begins at the start of a line: the end of the first line break that
// ends at or after `excess`, or the whole text when no line break follows it.
std::size_t PaneTrimLength(const std::wstring& paneText, std::size_t excess);

// Shown where FitPaneText left text out.
constexpr const wchar_t* kPaneOmissionMarker = L"[... text left out ...]\r\n";

// Fits one insertion into `limit` units (limit at least a few times the marker's size).
// Longer text keeps its first line, or as much of it as fits in half the limit, so
// that an error line stays recognisable; then the marker, on a line of its own; then
// as much of the end as fits. No cut separates a surrogate pair or a CR LF.
std::wstring FitPaneText(std::wstring text, std::size_t limit);
