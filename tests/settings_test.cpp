#include <gtest/gtest.h>

#include "core/settings.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void TearDown() override {
        g_serverHost.Set(kDefaultServerHost);
        g_serverPort = kDefaultServerPort;
    }
};

TEST_F(SettingsTest, DefaultsBuildTheLocalUrl) {
    EXPECT_EQ(BuildServerUrl(), "http://127.0.0.1:8080/inference");
    EXPECT_EQ(g_chunkSeconds.load(), 7);
    EXPECT_EQ(g_language.Get(), "zh");
}

TEST_F(SettingsTest, UrlTakesHostVerbatim) {
    g_serverHost.Set("");
    EXPECT_EQ(BuildServerUrl(), "http://:8080/inference");
    g_serverHost.Set("my host");
    g_serverPort = 65535;
    EXPECT_EQ(BuildServerUrl(), "http://my host:65535/inference");
}

TEST(HostRules, TrimsAsciiWhiteSpaceOnlyAfterTheEmptyTest) {
    EXPECT_EQ(HostFromFieldText("  10.0.0.5\t"), "10.0.0.5");
    EXPECT_EQ(HostFromFieldText(""), "127.0.0.1");
    EXPECT_EQ(HostFromFieldText("   "), "");
    EXPECT_EQ(HostFromFieldText(" \r\n\v\f\t"), "");
    EXPECT_EQ(HostFromFieldText("my host"), "my host");
    // Bytes of multi-byte characters are never taken for white space.
    EXPECT_EQ(HostFromFieldText("\xC2\xA0h\xC2\xA0"), "\xC2\xA0h\xC2\xA0");
    EXPECT_EQ(HostFromFieldText("\xE3\x80\x80 srv \xE3\x80\x80"), "\xE3\x80\x80 srv \xE3\x80\x80");
}

TEST(NumberRules, ParseFollowsTheWideLongConversion) {
    EXPECT_EQ(ParseInt32Prefix(L"80x"), 80);
    EXPECT_EQ(ParseInt32Prefix(L" \t8080"), 8080);
    EXPECT_EQ(ParseInt32Prefix(L"+12"), 12);
    EXPECT_EQ(ParseInt32Prefix(L"-5"), -5);
    EXPECT_EQ(ParseInt32Prefix(L"2147483647"), 2147483647);
    EXPECT_EQ(ParseInt32Prefix(L"-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInt32Prefix(L"0000000000000000000042"), 42);
    EXPECT_FALSE(ParseInt32Prefix(L"2147483648"));
    EXPECT_FALSE(ParseInt32Prefix(L"-2147483649"));
    EXPECT_FALSE(ParseInt32Prefix(L"99999999999999999999999"));
    EXPECT_FALSE(ParseInt32Prefix(L""));
    EXPECT_FALSE(ParseInt32Prefix(L"abc"));
    EXPECT_FALSE(ParseInt32Prefix(L"-"));
    EXPECT_FALSE(ParseInt32Prefix(L"+ 5"));
}

TEST(NumberRules, DigitsAndSpacesOfOtherScriptsCount) {
    EXPECT_EQ(ParseInt32Prefix(L"\uFF19\uFF10\uFF19\uFF10"), 9090);  // full-width, as Chinese input types it
    EXPECT_EQ(ParseInt32Prefix(L"\u3000\u00A0-\u0661\u0662"), -12);
    EXPECT_EQ(ParseInt32Prefix(L"1\u0967\u0E52"), 112);  // scripts may mix within one number
    EXPECT_EQ(ParseInt32Prefix(L"7\u0BE7"), 7);           // Tamil digits are not among them
    EXPECT_FALSE(ParseInt32Prefix(L"\u00B2"));           // nor are superscripts
    EXPECT_FALSE(ParseInt32Prefix(L"\U0001D7CF"));       // nor digits beyond 16 bits
    EXPECT_FALSE(ParseInt32Prefix(L"-\u30005"));         // no space after the sign
    EXPECT_FALSE(ParseInt32Prefix(L"\uFF0D5"));          // the full-width minus is no sign
    EXPECT_FALSE(ParseInt32Prefix(L"\uFF12\uFF11\uFF14\uFF17\uFF14\uFF18\uFF13\uFF16\uFF14\uFF18"));  // 2^31
    EXPECT_EQ(PortFromFieldText(L"\uFF19\uFF10\uFF19\uFF10"), 9090);
    EXPECT_EQ(ChunkSecondsFromFieldText(L"\uFF11\uFF12"), 12);
}

TEST(NumberRules, PortFallsBackOutsideItsRange) {
    EXPECT_EQ(PortFromFieldText(L"65535"), 65535);
    EXPECT_EQ(PortFromFieldText(L"1"), 1);
    EXPECT_EQ(PortFromFieldText(L"80x"), 80);
    EXPECT_EQ(PortFromFieldText(L" 8080"), 8080);
    for (const wchar_t* bad : {L"0", L"65536", L"-1", L"abc", L"", L"4294967296", L"99999999999"}) {
        EXPECT_EQ(PortFromFieldText(bad), 8080) << "input: " << std::wstring(bad).size();
    }
}

TEST(NumberRules, ChunkLengthIsClampedOrFallsBack) {
    EXPECT_EQ(ChunkSecondsFromFieldText(L"0"), 1);
    EXPECT_EQ(ChunkSecondsFromFieldText(L"-5"), 1);
    EXPECT_EQ(ChunkSecondsFromFieldText(L"31"), 30);
    EXPECT_EQ(ChunkSecondsFromFieldText(L"1000"), 30);
    EXPECT_EQ(ChunkSecondsFromFieldText(L"12abc"), 12);
    EXPECT_EQ(ChunkSecondsFromFieldText(L"-2147483648"), 1);
    for (const wchar_t* bad : {L"", L"abc", L"2147483648"}) EXPECT_EQ(ChunkSecondsFromFieldText(bad), 7);
}

TEST(LanguageRules, OnlyTheThreeCodesExactly) {
    EXPECT_TRUE(IsSupportedLanguage("auto"));
    EXPECT_TRUE(IsSupportedLanguage("en"));
    EXPECT_TRUE(IsSupportedLanguage("zh"));
    for (const char* bad : {"", "EN", "zh ", "fr", "auto\n"}) EXPECT_FALSE(IsSupportedLanguage(bad)) << bad;
    EXPECT_FALSE(IsSupportedLanguage(std::string("en\0", 3)));
}

}  // namespace
