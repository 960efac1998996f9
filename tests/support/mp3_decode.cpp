#include "tests/support/mp3_decode.h"

#include <mpg123.h>

#include <memory>

namespace {

constexpr long kOutputRate = 16000;

struct HandleDeleter {
    void operator()(mpg123_handle* handle) const {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};
using Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

double VersionNumber(int version) {
    switch (version) {
    case MPG123_1_0: return 1.0;
    case MPG123_2_0: return 2.0;
    case MPG123_2_5: return 2.5;
    default: return 0.0;
    }
}

bool Fail(std::string& error, const std::string& what, mpg123_handle* handle) {
    error = what + ": " + (handle ? mpg123_strerror(handle) : "no decoder");
    return false;
}

// A feed decoder whose only allowed output is 16 kHz mono 16-bit, so that mpg123
// resamples and down-mixes any other stream itself.
Handle OpenFeedDecoder(std::string& error) {
    mpg123_init();  // needed by libmpg123 before 1.27, harmless after
    int code = MPG123_OK;
    Handle handle(mpg123_new(nullptr, &code));
    if (!handle) {
        error = std::string("mpg123_new: ") + mpg123_plain_strerror(code);
        return nullptr;
    }
    if (mpg123_param(handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0) != MPG123_OK ||
        mpg123_format_none(handle.get()) != MPG123_OK ||
        mpg123_format(handle.get(), kOutputRate, MPG123_MONO, MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_open_feed(handle.get()) != MPG123_OK) {
        Fail(error, "configuring the decoder", handle.get());
        return nullptr;
    }
    return handle;
}

bool CheckOutputFormat(mpg123_handle* handle, std::string& error) {
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK) {
        return Fail(error, "mpg123_getformat", handle);
    }
    if (rate != kOutputRate || channels != 1 || encoding != MPG123_ENC_SIGNED_16) {
        error = "decoder output is not 16 kHz mono 16-bit";
        return false;
    }
    return true;
}

void TakeStreamInfo(mpg123_handle* handle, DecodedMp3& decoded) {
    mpg123_frameinfo info{};
    if (mpg123_info(handle, &info) != MPG123_OK) {
        return;
    }
    decoded.streamRate = info.rate;
    decoded.streamChannels = info.mode == MPG123_M_MONO ? 1 : 2;
    decoded.mpegVersion = VersionNumber(info.version);
    decoded.layer = info.layer;
    decoded.bitrateKbps = info.bitrate;
}

void AppendSamples(const unsigned char* audio, std::size_t bytes, std::vector<std::int16_t>& samples) {
    const auto* first = reinterpret_cast<const std::int16_t*>(audio);
    samples.insert(samples.end(), first, first + bytes / sizeof(std::int16_t));
}

}  // namespace

bool DecodeMp3(const std::uint8_t* data, std::size_t size, DecodedMp3& decoded, std::string& error) {
    decoded = DecodedMp3{};
    Handle handle = OpenFeedDecoder(error);
    if (!handle) {
        return false;
    }
    // The whole stream is fed at once, so "needs more" means it has been decoded to its end.
    if (size > 0 && mpg123_feed(handle.get(), data, size) != MPG123_OK) {
        return Fail(error, "mpg123_feed", handle.get());
    }
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int code = mpg123_decode_frame(handle.get(), &frameNumber, &audio, &bytes);
        if (code == MPG123_NEW_FORMAT) {
            if (!CheckOutputFormat(handle.get(), error)) {
                return false;
            }
            if (decoded.frames == 0) {
                TakeStreamInfo(handle.get(), decoded);
            }
            continue;
        }
        if (code == MPG123_NEED_MORE || code == MPG123_DONE) {
            break;
        }
        if (code != MPG123_OK) {
            return Fail(error, "mpg123_decode_frame", handle.get());
        }
        ++decoded.frames;
        AppendSamples(audio, bytes, decoded.samples);
    }
    if (decoded.frames == 0) {
        error = "no MPEG audio frame found";
        return false;
    }
    return true;
}

bool DecodeMp3(const std::vector<std::uint8_t>& mp3, DecodedMp3& decoded, std::string& error) {
    return DecodeMp3(mp3.data(), mp3.size(), decoded, error);
}
