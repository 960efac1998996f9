// On Windows the model travels with the program: model\en-us beside valdrin-server.exe,
// wherever the folder was unpacked.
#include "server/recognizer_platform.h"

#include <windows.h>

#include <vector>

namespace speech_server {
namespace {

std::wstring ExeFolder() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return L".";
        if (length < path.size()) {
            std::wstring folder(path.data(), length);
            return folder.substr(0, folder.find_last_of(L"\\/"));
        }
        path.resize(path.size() * 2);
    }
}

// The decoder opens its files with the C library's narrow calls, which take the ANSI
// code page; empty when `path` has characters that code page cannot spell.
std::string ToAnsi(const std::wstring& path) {
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return {};
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, ansi.data(), size, nullptr, &lossy);
    ansi.resize(static_cast<std::size_t>(size - 1));
    return lossy ? std::string() : ansi;
}

std::string ModelFolder() {
    const std::wstring folder = ExeFolder() + L"\\model\\en-us";
    std::string ansi = ToAnsi(folder);
    if (!ansi.empty()) return ansi;
    // A folder name outside the code page: its 8.3 short name is plain ASCII, where the
    // volume keeps short names.
    std::vector<wchar_t> shortPath(folder.size() + 1);
    const DWORD length = GetShortPathNameW(folder.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
    if (length > 0 && length < shortPath.size()) ansi = ToAnsi(std::wstring(shortPath.data(), length));
    return ansi.empty() ? "model\\en-us" : ansi;
}

}  // namespace

std::string DefaultModelFile(const char* name) {
    static const std::string folder = ModelFolder();
    return folder + "\\" + name;
}

std::string MissingModelAdvice() {
    return "the folder model\\en-us belongs beside valdrin-server.exe: unpack the whole zip, into a folder "
           "whose path uses only characters of the system's code page";
}

const char* DiscardedLogPath() { return "NUL"; }

}  // namespace speech_server
