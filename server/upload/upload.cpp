#include "server/upload/upload.h"

namespace speech_server {
namespace {

constexpr std::size_t kMaxQuotedLanguageBytes = 40;

UploadError UnsupportedLanguageError(const std::string& code) {
    std::string quoted = code.substr(0, kMaxQuotedLanguageBytes);
    if (quoted.size() < code.size()) quoted += "...";
    return {422, "language \"" + quoted +
                     "\" is not supported by this server's model, which recognises English only "
                     "(use \"en\" or \"auto\")"};
}

std::string WholeSeconds(std::size_t samples) {
    return std::to_string(samples / static_cast<std::size_t>(kSampleRate)) + " s";
}

std::variant<Upload, UploadError> DecodeFile(const std::string& file, const UploadLimits& limits) {
    Mp3Decoding decoded = DecodeMp3(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(),
                                    limits.max_audio_samples);
    switch (decoded.outcome) {
    case Mp3Decoding::Outcome::kDecoded:
        return Upload{"", std::move(decoded.samples)};
    case Mp3Decoding::Outcome::kNoFrames:
        return UploadError{415, "form part \"file\" is not MP3 audio (no MPEG audio frames found)"};
    case Mp3Decoding::Outcome::kDamaged:
        return UploadError{415, "form part \"file\" holds MP3 audio that cannot be decoded: " + decoded.detail};
    case Mp3Decoding::Outcome::kTooLong:
        return UploadError{413, "audio longer than " + WholeSeconds(limits.max_audio_samples)};
    case Mp3Decoding::Outcome::kFailed:
        break;
    }
    return UploadError{500, "MP3 decoder failed: " + decoded.detail};
}

}  // namespace

std::string DescribeByteCount(std::size_t bytes) {
    constexpr std::size_t kMebibyte = 1024 * 1024;
    if (bytes >= kMebibyte && bytes % kMebibyte == 0) return std::to_string(bytes / kMebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

UploadError BodyTooLargeError(const UploadLimits& limits) {
    return {413, "upload larger than " + DescribeByteCount(limits.max_body_bytes)};
}

UploadError NotMultipartError() {
    return {415, "expected a multipart/form-data body with the parts \"file\" and \"language\""};
}

UploadError MalformedFormError() { return {400, "malformed multipart/form-data body"}; }

std::size_t DrainLimit(const UploadLimits& limits) { return 4 * limits.max_body_bytes; }

bool UploadForm::BeginPart(const std::string& name) {
    current_ = Field::kOther;
    if (++parts_ > limits_.max_parts && !error_)
        error_ = UploadError{400, "more than " + std::to_string(limits_.max_parts) + " form parts"};
    if (error_) return bytes_ <= DrainLimit(limits_);
    if (name == "file") {
        current_ = Field::kFile;
        ++file_parts_;
    } else if (name == "language") {
        current_ = Field::kLanguage;
        ++language_parts_;
    }
    return true;
}

bool UploadForm::AppendContent(const char* data, std::size_t size) {
    bytes_ += size;
    if (bytes_ > limits_.max_body_bytes && !error_) error_ = BodyTooLargeError(limits_);
    if (error_) return bytes_ <= DrainLimit(limits_);
    if (current_ == Field::kFile) file_.append(data, size);
    if (current_ == Field::kLanguage) language_.append(data, size);
    return true;
}

bool IsRecognisedLanguage(std::string_view code) { return code == "en" || code == "auto"; }

std::variant<Upload, UploadError> CheckUpload(const UploadForm& form, const UploadLimits& limits) {
    if (form.error()) return *form.error();
    if (form.file_parts() == 0) return UploadError{400, "missing form part \"file\" with the MP3 audio"};
    if (form.file_parts() > 1) return UploadError{400, "more than one form part \"file\""};
    if (form.language_parts() > 1) return UploadError{400, "more than one form part \"language\""};
    if (form.file().empty()) return UploadError{400, "form part \"file\" is empty"};
    const std::string language = form.language().empty() ? "auto" : form.language();
    if (!IsRecognisedLanguage(language)) return UnsupportedLanguageError(language);

    auto decoded = DecodeFile(form.file(), limits);
    if (auto* upload = std::get_if<Upload>(&decoded)) upload->language = language;
    return decoded;
}

}  // namespace speech_server
