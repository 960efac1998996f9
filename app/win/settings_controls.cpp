#include "app/win/settings_controls.h"

#include <string>

#include "app/win/window_state.h"
#include "core/settings.h"
#include "core/win/text_conversion.h"

namespace {

// The list holds only short codes; a longer item cannot be one of them.
constexpr int kLanguageBufferUnits = 32;
// 254 characters of host, 14 of port or chunk length; the rest of a longer entry is cut.
constexpr int kHostBufferUnits = 256;
constexpr int kNumberBufferUnits = 16;

// Reads at most bufferUnits - 2 characters of the field's text.
std::wstring ReadField(HWND field, int bufferUnits) {
    std::wstring buffer(static_cast<std::size_t>(bufferUnits), L'\0');
    GetWindowTextW(field, buffer.data(), bufferUnits - 1);
    return buffer.c_str();
}

}  // namespace

void ReadLanguageSelection() {
    if (!g_hLangCombo) return;
    const LRESULT index = SendMessageW(g_hLangCombo, CB_GETCURSEL, 0, 0);
    if (index < 0) return;
    // CB_GETLBTEXT takes no buffer size, so the item's length is checked first.
    const LRESULT length = SendMessageW(g_hLangCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0 || length >= kLanguageBufferUnits) return;
    wchar_t buffer[kLanguageBufferUnits] = {};
    SendMessageW(g_hLangCombo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
    const std::string code = WideToUtf8(buffer);
    if (IsSupportedLanguage(code)) g_language.Set(code);
}

void ReadServerSettings() {
    if (g_hServerEdit) g_serverHost.Set(HostFromFieldText(WideToUtf8(ReadField(g_hServerEdit, kHostBufferUnits))));

    g_serverPort = g_hPortEdit ? PortFromFieldText(ReadField(g_hPortEdit, kNumberBufferUnits)) : kDefaultServerPort;

    if (g_hChunkEdit) g_chunkSeconds = ChunkSecondsFromFieldText(ReadField(g_hChunkEdit, kNumberBufferUnits));
}
