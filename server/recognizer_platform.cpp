#include "server/recognizer_platform.h"

namespace speech_server {

// Where Debian's pocketsphinx-en-us package puts the English model.
std::string DefaultModelFile(const char* name) { return std::string("/usr/share/pocketsphinx/model/en-us/") + name; }

std::string MissingModelAdvice() { return "install Debian's pocketsphinx-en-us"; }

const char* DiscardedLogPath() { return "/dev/null"; }

}  // namespace speech_server
