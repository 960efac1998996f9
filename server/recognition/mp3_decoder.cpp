#include "server/recognition/mp3_decoder.h"

#include <mpg123.h>

#include <array>
#include <memory>

namespace speech_server {
namespace {

struct HandleDeleter {
    void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using DecoderHandle = std::unique_ptr<mpg123_handle, HandleDeleter>;

// mpg123_init is a no-op in current releases but required by older ones; once is enough.
void InitLibraryOnce() {
    static const int result = mpg123_init();
    (void)result;
}

Mp3Decoding Failure(Mp3Decoding::Outcome outcome, std::string detail) {
    Mp3Decoding result;
    result.outcome = outcome;
    result.detail = std::move(detail);
    return result;
}

// A feed-mode decoder whose only allowed output format is 16 kHz mono 16-bit.
DecoderHandle OpenFeedDecoder(std::string& error) {
    InitLibraryOnce();
    int code = MPG123_OK;
    DecoderHandle handle(mpg123_new(nullptr, &code));
    if (!handle) {
        error = mpg123_plain_strerror(code);
        return nullptr;
    }
    // Corrupt uploads must not fill the server's log with decoder chatter.
    mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    if (mpg123_format_none(handle.get()) != MPG123_OK ||
        mpg123_format(handle.get(), kSampleRate, MPG123_MONO, MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_open_feed(handle.get()) != MPG123_OK) {
        error = mpg123_strerror(handle.get());
        return nullptr;
    }
    return handle;
}

bool HasExpectedFormat(mpg123_handle* handle) {
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    return mpg123_getformat(handle, &rate, &channels, &encoding) == MPG123_OK &&
           rate == kSampleRate && channels == MPG123_MONO && encoding == MPG123_ENC_SIGNED_16;
}

}  // namespace

Mp3Decoding DecodeMp3(const std::uint8_t* data, std::size_t size, std::size_t max_samples) {
    if (size == 0) return Failure(Mp3Decoding::Outcome::kNoFrames, "no data");
    std::string error;
    DecoderHandle decoder = OpenFeedDecoder(error);
    if (!decoder) return Failure(Mp3Decoding::Outcome::kFailed, error);

    Mp3Decoding result;
    std::array<unsigned char, 16384> block{};
    const unsigned char* input = data;
    std::size_t input_size = size;
    bool format_seen = false;
    for (;;) {
        std::size_t produced = 0;
        const int code = mpg123_decode(decoder.get(), input, input_size, block.data(), block.size(), &produced);
        input = nullptr;  // the whole stream goes in with the first call
        input_size = 0;
        if (code == MPG123_NEW_FORMAT) {
            if (!HasExpectedFormat(decoder.get()))
                return Failure(Mp3Decoding::Outcome::kDamaged, "cannot be converted to 16 kHz mono");
            format_seen = true;
        }
        const std::size_t count = produced / sizeof(std::int16_t);
        if (result.samples.size() + count > max_samples)
            return Failure(Mp3Decoding::Outcome::kTooLong, "audio longer than the limit");
        const auto* samples = reinterpret_cast<const std::int16_t*>(block.data());
        result.samples.insert(result.samples.end(), samples, samples + count);
        if (code == MPG123_NEED_MORE || code == MPG123_DONE) break;
        if (code != MPG123_OK && code != MPG123_NEW_FORMAT)
            return Failure(Mp3Decoding::Outcome::kDamaged, mpg123_strerror(decoder.get()));
    }
    if (!format_seen || result.samples.empty())
        return Failure(Mp3Decoding::Outcome::kNoFrames, "no MPEG audio frames found");
    result.outcome = Mp3Decoding::Outcome::kDecoded;
    return result;
}

}  // namespace speech_server
