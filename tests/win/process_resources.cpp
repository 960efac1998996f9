#include "tests/win/process_resources.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>

namespace {

// Wine answers GetProcessHandleCount with 0, so count the handle values that are open.
// Handle values are multiples of four and the lowest free one is handed out first.
unsigned long CountOpenHandles() {
    constexpr std::uintptr_t kHighestProbed = 0x10000;
    unsigned long count = 0;
    for (std::uintptr_t value = 4; value <= kHighestProbed; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

unsigned long CountOwnThreads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    unsigned long count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace

ProcessResources SampleProcessResources() {
    ProcessResources sample;
    sample.handles = CountOpenHandles();
    sample.threads = CountOwnThreads();
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) sample.workingSetBytes = memory.WorkingSetSize;
    return sample;
}
