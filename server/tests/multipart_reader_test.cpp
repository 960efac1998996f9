#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/upload/multipart_reader.h"

namespace speech_server {
namespace {

TEST(MultipartBoundary, ReadsTheBoundaryOfFormDataOnly) {
    const struct {
        std::string content_type;
        std::optional<std::string> boundary;
    } cases[] = {
        {"multipart/form-data; boundary=XyZ", "XyZ"},
        {"Multipart/Form-Data;charset=utf-8; BOUNDARY=\"a b\"", "a b"},
        {"multipart/form-data", ""},
        {"multipart/form-data; boundary=", ""},
        {"multipart/form-data; boundary=" + std::string(70, 'b'), std::string(70, 'b')},
        {"multipart/form-data; boundary=" + std::string(71, 'b'), ""},
        {"multipart/mixed; boundary=XyZ", std::nullopt},
        {"audio/mpeg", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(MultipartBoundary(c.content_type), c.boundary) << c.content_type;
}

struct Outcome {
    bool complete = false;
    bool malformed = false;
    std::string file, language;
};

// `body` fed in pieces of `piece` bytes.
Outcome Read(const std::string& body, std::size_t piece, const UploadLimits& limits = {}) {
    UploadForm form(limits);
    MultipartReader reader("XyZ", form);
    for (std::size_t at = 0; at < body.size(); at += piece)
        if (!reader.Feed(body.data() + at, std::min(piece, body.size() - at))) break;
    return {reader.Finish(), reader.malformed(), form.file(), form.language()};
}

const std::string kFilePart = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.mp3\"\r\n"
                              "Content-Type: audio/mpeg\r\n\r\n";
const std::string kLanguagePart = "--XyZ\r\ncontent-disposition: form-data; name=language\r\n\r\nen\r\n";

TEST(MultipartReader, SplitsPartsWhateverThePieces) {
    // Content that holds all but the whole delimiter, and a preamble before the first.
    const std::string content = "--XyZ\r\n--XY\r\n--Xy\r\n-";
    const std::string body = "preamble\r\n" + kLanguagePart + kFilePart + content + "\r\n--XyZ--\r\nepilogue";
    for (std::size_t piece : {1, 2, 7, 64, 100000}) {
        const Outcome outcome = Read(body, piece);
        EXPECT_TRUE(outcome.complete) << piece;
        EXPECT_EQ(outcome.file, content) << piece;
        EXPECT_EQ(outcome.language, "en") << piece;
    }
}

TEST(MultipartReader, RefusesMalformedBodies) {
    const struct {
        const char* name;
        std::string body;
        bool malformed;
    } cases[] = {
        {"junk after a delimiter", kFilePart + "abc\r\n--XyZjunk", true},
        {"a header line without a colon", "--XyZ\r\nnot a header\r\n\r\nx\r\n--XyZ--", true},
        {"part headers over 16 KiB", "--XyZ\r\nX-Filler: " + std::string(16 * 1024, 'h'), true},
        {"no closing delimiter", kFilePart + "abc", false},
        {"no delimiter at all", std::string(5000, 'j'), false},
    };
    for (const auto& c : cases) {
        const Outcome outcome = Read(c.body, 1000);
        EXPECT_FALSE(outcome.complete) << c.name;
        EXPECT_EQ(outcome.malformed, c.malformed) << c.name;
    }
}

TEST(MultipartReader, StopsAtTheFormsLimit) {
    UploadLimits limits;
    limits.max_body_bytes = 10;
    const std::string at_limit = Read(kFilePart + std::string(10, 'x') + "\r\n--XyZ--", 3, limits).file;
    EXPECT_EQ(at_limit, std::string(10, 'x'));
    const Outcome past = Read(kFilePart + std::string(11, 'x') + "\r\n--XyZ--", 3, limits);
    EXPECT_FALSE(past.complete);
}

}  // namespace
}  // namespace speech_server
