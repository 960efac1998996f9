#include "transcribe/win/transcript_file.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>

#include "core/win/text_conversion.h"

namespace {

constexpr const wchar_t* kFolderName = L"Valdrin Live";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr int kMaxNameTries = 100;

// "<what> <path>: <the system's words> (error N)".
std::string Failure(const char* what, const std::wstring& path, DWORD code) {
    wchar_t* words = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
    std::wstring text = words ? words : L"unknown error";
    LocalFree(words);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    return std::string(what) + " " + WideToUtf8(path) + ": " + WideToUtf8(text) + " (error " + std::to_string(code) +
           ")";
}

class TranscriptFile : public TranscriptOutput {
public:
    TranscriptFile(HANDLE file, std::wstring path) : file_(file), path_(std::move(path)) {}
    ~TranscriptFile() override {
        CloseHandle(file_);
        if (!written_) DeleteFileW(path_.c_str());
    }

    bool WriteAt(std::uint64_t offset, const std::string& bytes, std::string& error) override {
        if (bytes.size() > MAXDWORD) {
            error = Failure("could not write to", path_, ERROR_INVALID_PARAMETER);
            return false;
        }
        OVERLAPPED at = {};
        const std::uint64_t position = offset + sizeof(kByteOrderMark) - 1;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD done = 0;
        if (!WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, &at) || done != bytes.size() ||
            !FlushFileBuffers(file_)) {
            error = Failure("could not write to", path_, GetLastError());
            return false;
        }
        written_ = true;
        return true;
    }

private:
    HANDLE file_;
    std::wstring path_;
    bool written_ = false;
};

std::wstring FileName(const SYSTEMTIME& start, int attempt) {
    wchar_t name[64];
    std::swprintf(name, 64, L"%04u-%02u-%02u %02u-%02u-%02u", start.wYear, start.wMonth, start.wDay, start.wHour,
                  start.wMinute, start.wSecond);
    std::wstring text = name;
    if (attempt > 1) text += L" (" + std::to_wstring(attempt) + L")";
    return text + L".txt";
}

}  // namespace

bool MakeTranscriptFolder(std::wstring& folder, std::string& error) {
    wchar_t* documents = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &documents);
    if (FAILED(hr) || !documents) {
        CoTaskMemFree(documents);
        error = Failure("could not find the folder", L"Documents", static_cast<DWORD>(hr));
        return false;
    }
    folder = std::wstring(documents) + L"\\" + kFolderName;
    CoTaskMemFree(documents);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return true;
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    error = Failure("could not make the folder", folder, code == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : code);
    return false;
}

std::unique_ptr<TranscriptOutput> CreateTranscriptFile(const SYSTEMTIME& start, std::string& error) {
    std::wstring folder;
    if (!MakeTranscriptFolder(folder, error)) return nullptr;
    for (int attempt = 1;; ++attempt) {
        const std::wstring path = folder + L"\\" + FileName(start, attempt);
        // Others may read it while it grows (an editor, a copy), never write to it.
        const HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS && attempt < kMaxNameTries) continue;
            error = Failure("could not create", path, code);
            return nullptr;
        }
        DWORD done = 0;
        if (!WriteFile(file, kByteOrderMark, sizeof(kByteOrderMark) - 1, &done, nullptr) ||
            done != sizeof(kByteOrderMark) - 1) {
            error = Failure("could not write to", path, GetLastError());
            CloseHandle(file);
            DeleteFileW(path.c_str());
            return nullptr;
        }
        return std::make_unique<TranscriptFile>(file, path);
    }
}
