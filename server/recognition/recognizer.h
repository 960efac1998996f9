// One pocketsphinx decoder: English speech, 16 kHz mono 16-bit, to lower-case words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "server/recognizer_platform.h"

namespace speech_server {

// The English model; by default where the platform keeps it (recognizer_platform.h).
struct ModelPaths {
    std::string acoustic_model = DefaultModelFile("en-us");
    std::string language_model = DefaultModelFile("en-us.lm.bin");
    std::string dictionary = DefaultModelFile("cmudict-en-us.dict");

    // Empty when every file is there, else a message naming the first missing one.
    std::string MissingFileMessage() const;
};

// Not thread-safe: one thread at a time may call Recognize. Loading takes a fraction
// of a second and about 100 MiB; instances are meant to be made once and reused.
class SpeechRecognizer {
public:
    // Throws std::runtime_error when the model cannot be loaded.
    explicit SpeechRecognizer(const ModelPaths& paths);
    ~SpeechRecognizer();
    SpeechRecognizer(const SpeechRecognizer&) = delete;
    SpeechRecognizer& operator=(const SpeechRecognizer&) = delete;

    // The words heard in one whole utterance, separated by single spaces; empty when
    // nothing was recognised. The text depends on these samples alone, not on what was
    // recognised before. Throws std::runtime_error when the decoder fails.
    std::string Recognize(const std::int16_t* samples, std::size_t count);

private:
    struct Decoder;
    std::unique_ptr<Decoder> decoder_;
};

}  // namespace speech_server
