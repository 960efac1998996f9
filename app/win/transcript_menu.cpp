#include "app/win/transcript_menu.h"

#include <shellapi.h>

#include "core/log_core.h"
#include "transcribe/win/transcript_file.h"

namespace {

bool g_keepTranscripts = true;

bool ReadKeepTranscripts() {
    DWORD value = 1;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kKeepTranscriptsValue, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return true;
    return value != 0;
}

void WriteKeepTranscripts(bool keep) {
    const DWORD value = keep ? 1 : 0;
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                     nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, kKeepTranscriptsValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof(value));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        AppendLog("[Warn] The transcript choice holds until the program ends: it could not be kept (error " +
                  std::to_string(status) + ")\n");
}

void OpenTranscriptsFolder(HWND window) {
    std::wstring folder;
    std::string error;
    if (!MakeTranscriptFolder(folder, error)) {
        AppendLog("[Warn] Transcripts folder not opened: " + error + "\n");
        return;
    }
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(window, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32)
        AppendLog("[Warn] Transcripts folder not opened: the shell answered " + std::to_string(result) + "\n");
}

}  // namespace

void AddTranscriptMenu(HWND window) {
    g_keepTranscripts = ReadKeepTranscripts();
    HMENU menu = GetSystemMenu(window, FALSE);
    if (!menu) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (g_keepTranscripts ? MF_CHECKED : MF_UNCHECKED), IDM_KEEP_TRANSCRIPTS,
                L"Keep transcripts");
    AppendMenuW(menu, MF_STRING, IDM_OPEN_TRANSCRIPTS, L"Open transcripts folder");
}

bool OnTranscriptMenu(HWND window, WPARAM command) {
    switch (command & 0xFFF0) {
        case IDM_KEEP_TRANSCRIPTS:
            g_keepTranscripts = !g_keepTranscripts;
            CheckMenuItem(GetSystemMenu(window, FALSE), IDM_KEEP_TRANSCRIPTS,
                          MF_BYCOMMAND | (g_keepTranscripts ? MF_CHECKED : MF_UNCHECKED));
            WriteKeepTranscripts(g_keepTranscripts);
            return true;
        case IDM_OPEN_TRANSCRIPTS:
            OpenTranscriptsFolder(window);
            return true;
        default:
            return false;
    }
}

std::shared_ptr<Transcript> OpenRecordingTranscript(std::string& problem) {
    if (!g_keepTranscripts) return nullptr;
    SYSTEMTIME start;
    GetLocalTime(&start);
    std::unique_ptr<TranscriptOutput> file = CreateTranscriptFile(start, problem);
    return file ? std::make_shared<Transcript>(std::move(file)) : nullptr;
}
