// The process's resident memory, for the start-up message and the figures.
#pragma once

#include <cstddef>

namespace speech_server {

// Resident memory in bytes (VmRSS on Linux, the working set on Windows); 0 when it
// cannot be read.
std::size_t ResidentBytes();

}  // namespace speech_server
