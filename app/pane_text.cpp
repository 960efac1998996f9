#include "app/pane_text.h"

std::wstring ToPaneText(const std::wstring& text, bool& endsInCr) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (const wchar_t c : text) {
        if (c == L'\n' && !endsInCr) {
            out += L"\r\n";
        } else if (c == L'\0') {
            out += L'\xFFFD';
        } else {
            out += c;
        }
        endsInCr = c == L'\r';
    }
    return out;
}

std::size_t PaneTrimLength(const std::wstring& paneText, std::size_t excess) {
    if (excess == 0) return 0;
    if (excess >= paneText.size()) return paneText.size();
    // The unit before position `excess` may already be the LF that ends a line.
    const std::size_t lineFeed = paneText.find(L'\n', excess - 1);
    return lineFeed == std::wstring::npos ? paneText.size() : lineFeed + 1;
}
