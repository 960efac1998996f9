// The process's resident memory, for the start-up message and the figures.
#pragma once

#include <cstddef>

namespace speech_server {

// VmRSS from /proc/self/status in bytes; 0 when it cannot be read.
std::size_t ResidentBytes();

}  // namespace speech_server
