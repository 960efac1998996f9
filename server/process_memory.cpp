#include "server/process_memory.h"

#include <fstream>
#include <string>

namespace speech_server {

std::size_t ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            std::size_t kibibytes = 0;
            status >> kibibytes;
            return kibibytes * 1024;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

}  // namespace speech_server
