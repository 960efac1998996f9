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

namespace {
// Whether a cut at `at` would separate two units that belong together.
bool SplitsAPair(const std::wstring& text, std::size_t at) {
    if (at == 0 || at >= text.size()) return false;
    const wchar_t before = text[at - 1];
    const wchar_t after = text[at];
    return (before >= 0xD800 && before <= 0xDBFF && after >= 0xDC00 && after <= 0xDFFF) ||
           (before == L'\r' && after == L'\n');
}
}  // namespace

std::wstring FitPaneText(std::wstring text, std::size_t limit) {
    if (text.size() <= limit) return text;
    const std::size_t lineEnd = text.find(L'\n');
    std::size_t headEnd = lineEnd == std::wstring::npos ? text.size() : lineEnd + 1;
    if (headEnd > limit / 2) headEnd = limit / 2;
    if (SplitsAPair(text, headEnd)) --headEnd;

    std::wstring fitted = text.substr(0, headEnd);
    if (!fitted.empty() && fitted.back() != L'\n') fitted += L"\r\n";
    fitted += kPaneOmissionMarker;
    std::size_t tailStart = text.size() - (limit - fitted.size());
    if (SplitsAPair(text, tailStart)) ++tailStart;
    return fitted + text.substr(tailStart);
}
