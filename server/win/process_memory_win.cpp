#include "server/process_memory.h"

#include <windows.h>
#include <psapi.h>

namespace speech_server {

// The working set, Windows' counterpart of the resident set.
std::size_t ResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.WorkingSetSize;
}

}  // namespace speech_server
