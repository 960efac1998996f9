// What a POST to /inference must carry, checked apart from the HTTP layer so that
// every rule can be tested and fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "server/recognition/mp3_decoder.h"

namespace speech_server {

struct UploadLimits {
    std::size_t max_body_bytes = 16 * 1024 * 1024;
    std::size_t max_parts = 16;
    std::size_t max_audio_samples = 60 * kSampleRate;
};

// A refusal: the HTTP status and the message for the client.
struct UploadError {
    int status = 400;
    std::string message;
};

// "16 MiB" for whole mebibytes, else "4096 bytes".
std::string DescribeByteCount(std::size_t bytes);

UploadError BodyTooLargeError(const UploadLimits& limits);  // 413
UploadError NotMultipartError();                            // 415
UploadError MalformedFormError();                           // 400

// How much of a body is read at most: a refused body is still read, and dropped, up
// to this size, so that the client is not cut off while sending and gets to read
// the refusal.
std::size_t DrainLimit(const UploadLimits& limits);

// Collects the parts of one multipart body while the HTTP layer parses it: keeps the
// contents of "file" and "language", skips other parts, and counts every content
// byte against the body limit. Past a limit the form is refused (error()) and keeps
// no more content. Both calls return whether the caller should go on reading.
class UploadForm {
public:
    explicit UploadForm(const UploadLimits& limits) : limits_(limits) {}

    bool BeginPart(const std::string& name);
    bool AppendContent(const char* data, std::size_t size);

    const std::optional<UploadError>& error() const { return error_; }
    std::size_t file_parts() const { return file_parts_; }
    std::size_t language_parts() const { return language_parts_; }
    const std::string& file() const { return file_; }
    const std::string& language() const { return language_; }

private:
    enum class Field { kFile, kLanguage, kOther };

    UploadLimits limits_;
    std::optional<UploadError> error_;
    Field current_ = Field::kOther;
    std::size_t parts_ = 0;
    std::size_t bytes_ = 0;
    std::size_t file_parts_ = 0;
    std::size_t language_parts_ = 0;
    std::string file_;
    std::string language_;
};

// The recogniser's model is English: "en", and "auto", which can only mean English here.
bool IsRecognisedLanguage(std::string_view code);

struct Upload {
    std::string language;               // "en" or "auto"; "auto" when the form had none
    std::vector<std::int16_t> samples;  // 16 kHz mono, never empty
};

// Judges a complete form: exactly one non-empty "file" part holding MP3 audio no
// longer than the limit, and at most one "language" part naming a recognised
// language. Statuses: 400 for a malformed form, 413 for too much audio, 415 for a
// file that is not MP3, 422 for an unsupported language.
std::variant<Upload, UploadError> CheckUpload(const UploadForm& form, const UploadLimits& limits);

}  // namespace speech_server
