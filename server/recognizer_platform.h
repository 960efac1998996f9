// What the recogniser takes from the platform: where the English model lies, what to
// tell a user who lacks it, and a file that swallows the decoder's own log.
#pragma once

#include <string>

namespace speech_server {

// The path of `name` in the model folder, which holds en-us/ (the acoustic model),
// en-us.lm.bin and cmudict-en-us.dict.
std::string DefaultModelFile(const char* name);

// Advice for a missing model file, e.g. which package to install.
std::string MissingModelAdvice();

// A path that can be opened for writing and keeps nothing.
const char* DiscardedLogPath();

}  // namespace speech_server
