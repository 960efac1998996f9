#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "server/tests/support/mp3_encoding.h"
#include "server/tests/support/speech_samples.h"
#include "server/upload/upload.h"

namespace speech_server {
namespace {

using Parts = std::vector<std::pair<std::string, std::string>>;

UploadForm FormOf(const Parts& parts, const UploadLimits& limits = {}) {
    UploadForm form(limits);
    for (const auto& [name, content] : parts) {
        if (!form.BeginPart(name) || !form.AppendContent(content.data(), content.size())) break;
    }
    return form;
}

std::string ToneMp3(double seconds) {
    const auto mp3 = testing::EncodeMp3(testing::SineWave(440, seconds, 16000, 1), 16000, 1);
    return {mp3.begin(), mp3.end()};
}

UploadError RefusalOf(const Parts& parts, const UploadLimits& limits = {}) {
    auto result = CheckUpload(FormOf(parts, limits), limits);
    EXPECT_TRUE(std::holds_alternative<UploadError>(result)) << "the upload was accepted";
    return std::holds_alternative<UploadError>(result) ? std::get<UploadError>(result) : UploadError{};
}

TEST(UploadForm, KeepsFileAndLanguageAndSkipsOtherParts) {
    UploadForm form(UploadLimits{});
    ASSERT_TRUE(form.BeginPart("language"));
    ASSERT_TRUE(form.AppendContent("e", 1));
    ASSERT_TRUE(form.AppendContent("n", 1));
    ASSERT_TRUE(form.BeginPart("comment"));
    ASSERT_TRUE(form.AppendContent("ignored", 7));
    ASSERT_TRUE(form.BeginPart("file"));
    ASSERT_TRUE(form.AppendContent("\xFF\xF3", 2));
    EXPECT_EQ(form.language(), "en");
    EXPECT_EQ(form.file(), "\xFF\xF3");
    EXPECT_EQ(form.file_parts(), 1u);
    EXPECT_EQ(form.language_parts(), 1u);
    EXPECT_FALSE(form.error());
}

TEST(UploadForm, CountsEveryPartAgainstTheBodyLimit) {
    UploadLimits limits;
    limits.max_body_bytes = 10;
    UploadForm form(limits);
    ASSERT_TRUE(form.BeginPart("other"));
    EXPECT_TRUE(form.AppendContent("123456", 6));
    ASSERT_TRUE(form.BeginPart("file"));
    EXPECT_TRUE(form.AppendContent("7890", 4));  // exactly at the limit
    EXPECT_FALSE(form.error());
    EXPECT_TRUE(form.AppendContent("x", 1)) << "the refused body is still read";
    ASSERT_TRUE(form.error());
    EXPECT_EQ(form.error()->status, 413);
    EXPECT_EQ(form.error()->message, "upload larger than 10 bytes");
    EXPECT_EQ(form.file(), "7890") << "nothing is kept past the limit";
}

TEST(UploadForm, ReadsARefusedBodyOnlyUpToTheDrainLimit) {
    UploadLimits limits;
    limits.max_body_bytes = 10;
    ASSERT_EQ(DrainLimit(limits), 40u);
    UploadForm form(limits);
    ASSERT_TRUE(form.BeginPart("file"));
    EXPECT_TRUE(form.AppendContent(std::string(40, 'x').data(), 40));
    EXPECT_TRUE(form.BeginPart("language"));
    EXPECT_FALSE(form.AppendContent("x", 1));
    EXPECT_FALSE(form.BeginPart("other"));
    EXPECT_EQ(form.error()->status, 413);
    EXPECT_TRUE(form.file().empty());
    EXPECT_TRUE(form.language().empty());
}

TEST(UploadForm, RefusesTooManyParts) {
    UploadLimits limits;
    limits.max_parts = 3;
    const UploadError error = RefusalOf({{"a", ""}, {"b", ""}, {"c", ""}, {"file", ToneMp3(0.5)}}, limits);
    EXPECT_EQ(error.status, 400);
    EXPECT_EQ(error.message, "more than 3 form parts");
}

TEST(CheckUpload, RefusesMalformedFormsWith400) {
    const std::string mp3 = ToneMp3(0.5);
    struct Case {
        Parts parts;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, "missing form part \"file\" with the MP3 audio"},
        {{{"language", "en"}}, "missing form part \"file\" with the MP3 audio"},
        {{{"File", mp3}}, "missing form part \"file\" with the MP3 audio"},
        {{{"file", ""}, {"language", "en"}}, "form part \"file\" is empty"},
        {{{"file", mp3}, {"file", mp3}}, "more than one form part \"file\""},
        {{{"file", mp3}, {"language", "en"}, {"language", "en"}}, "more than one form part \"language\""},
    };
    for (const Case& c : cases) {
        const UploadError error = RefusalOf(c.parts);
        EXPECT_EQ(error.status, 400) << c.message;
        EXPECT_EQ(error.message, c.message);
    }
}

TEST(CheckUpload, RefusesLanguagesOtherThanEnglishWith422) {
    const std::string mp3 = ToneMp3(0.5);
    for (const std::string language : {"zh", "fr", "EN", " en", "en-US", "auto\n"}) {
        const UploadError error = RefusalOf({{"file", mp3}, {"language", language}});
        EXPECT_EQ(error.status, 422) << language;
        EXPECT_NE(error.message.find("language \"" + language + "\" is not supported"), std::string::npos)
            << error.message;
        EXPECT_NE(error.message.find("English only"), std::string::npos) << error.message;
    }
}

TEST(CheckUpload, JudgesTheLanguageBeforeDecoding) {
    // No MP3 at all: the language alone decides.
    EXPECT_EQ(RefusalOf({{"file", "not audio"}, {"language", "zh"}}).status, 422);
}

TEST(CheckUpload, QuotesOnlyTheStartOfALongLanguage) {
    const std::string language(1000, 'x');
    const UploadError error = RefusalOf({{"file", ToneMp3(0.5)}, {"language", language}});
    EXPECT_EQ(error.status, 422);
    EXPECT_LT(error.message.size(), 200u);
    EXPECT_NE(error.message.find(std::string(40, 'x') + "...\""), std::string::npos) << error.message;
}

TEST(CheckUpload, RefusesFilesThatAreNotMp3With415) {
    const std::vector<std::string> files = {
        "hello, this is plain text and no audio at all",
        std::string(4096, '\0'),
        std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16) + std::string(2000, '\x11'),
        "\xFF",
    };
    for (const std::string& file : files) {
        const UploadError error = RefusalOf({{"file", file}, {"language", "en"}});
        EXPECT_EQ(error.status, 415) << error.message;
        EXPECT_EQ(error.message, "form part \"file\" is not MP3 audio (no MPEG audio frames found)");
    }
}

TEST(CheckUpload, RefusesAudioLongerThanTheLimitWith413) {
    UploadLimits limits;
    limits.max_audio_samples = 16000;  // 1 s
    const UploadError error = RefusalOf({{"file", ToneMp3(3.0)}, {"language", "en"}}, limits);
    EXPECT_EQ(error.status, 413);
    EXPECT_EQ(error.message, "audio longer than 1 s");
}

TEST(CheckUpload, AcceptsEnglishAutoAndNoLanguage) {
    const std::string mp3 = ToneMp3(1.0);
    const std::vector<std::pair<Parts, std::string>> cases = {
        {{{"file", mp3}, {"language", "en"}}, "en"},
        {{{"language", "auto"}, {"file", mp3}}, "auto"},
        {{{"file", mp3}}, "auto"},
        {{{"file", mp3}, {"language", ""}}, "auto"},
    };
    for (const auto& [parts, language] : cases) {
        auto result = CheckUpload(FormOf(parts), UploadLimits{});
        ASSERT_TRUE(std::holds_alternative<Upload>(result)) << std::get<UploadError>(result).message;
        const Upload& upload = std::get<Upload>(result);
        EXPECT_EQ(upload.language, language);
        EXPECT_NEAR(static_cast<double>(upload.samples.size()), 16000.0, 2500.0);
    }
}

TEST(CheckUpload, DescribesLimitsInWholeMebibytesWhereTheyAre) {
    EXPECT_EQ(BodyTooLargeError(UploadLimits{}).message, "upload larger than 16 MiB");
    EXPECT_EQ(DescribeByteCount(1536 * 1024), "1572864 bytes");
    EXPECT_EQ(NotMultipartError().status, 415);
    EXPECT_EQ(MalformedFormError().status, 400);
}

}  // namespace
}  // namespace speech_server
