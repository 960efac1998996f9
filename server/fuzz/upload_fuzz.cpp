// libFuzzer target for the upload rules, the multipart reading and the MP3 decoder.
// Input: one control byte, then the bytes of the "file" part. The control byte picks
// the language part, extra parts and the piece size in which the HTTP layer would
// hand over the content. The same bytes are also read as a whole multipart body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/upload/multipart_reader.h"
#include "server/upload/upload.h"

namespace {

using namespace speech_server;

const char* const kLanguages[] = {"en", "auto", "zh", ""};

void Check(bool condition) {
    if (!condition) std::abort();
}

void Feed(UploadForm& form, const std::string& name, const std::uint8_t* data, std::size_t size, std::size_t piece) {
    if (!form.BeginPart(name)) return;
    for (std::size_t at = 0; at < size; at += piece) {
        const std::size_t length = size - at < piece ? size - at : piece;
        if (!form.AppendContent(reinterpret_cast<const char*>(data + at), length)) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::uint8_t* file = data + 1;
    const std::size_t file_size = size - 1;

    UploadLimits limits;
    limits.max_body_bytes = 256 * 1024;
    limits.max_parts = 4;
    limits.max_audio_samples = 20 * kSampleRate;
    const std::size_t piece = std::size_t{1} << (control >> 5) * 2;  // 1 to 16384 bytes

    UploadForm form(limits);
    if (control & 0x10) Feed(form, "comment", file, file_size / 2, piece);
    if ((control & 0x03) != 0x03) {
        const std::string language = kLanguages[control & 0x03];
        Feed(form, "language", reinterpret_cast<const std::uint8_t*>(language.data()), language.size(), piece);
    }
    Feed(form, "file", file, file_size, piece);
    if (control & 0x04) Feed(form, "file", file, file_size, piece);
    if (control & 0x08) Feed(form, "language", file, file_size % 64, piece);

    // As a body: whatever it holds, the form keeps no more than was fed to it.
    UploadForm body_form(limits);
    MultipartReader reader("XyZ", body_form);
    for (std::size_t at = 0; at < file_size && reader.Feed(reinterpret_cast<const char*>(file + at),
                                                            file_size - at < piece ? file_size - at : piece);
         at += piece) {
    }
    Check(body_form.file().size() + body_form.language().size() <= file_size);

    const auto result = CheckUpload(form, limits);
    if (const auto* upload = std::get_if<Upload>(&result)) {
        Check(!upload->samples.empty() && upload->samples.size() <= limits.max_audio_samples);
        Check(IsRecognisedLanguage(upload->language));
        Check(form.file_parts() == 1 && !form.file().empty());
    } else {
        const auto& error = std::get<UploadError>(result);
        Check(error.status >= 400 && error.status <= 599 && !error.message.empty());
    }
    return 0;
}
