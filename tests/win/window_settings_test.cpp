// Settings as typed into the real window, seen through the lines that Start writes.
#include <gtest/gtest.h>

#include <memory>

#include "app/win/main_window.h"
#include "tests/support/loopback_server.h"
#include "tests/win/window_test_support.h"

namespace {

// Presses Start and returns the text it appended to the pane, once that ends with `lastLine`.
std::wstring PressStartUntil(AppSession& app, const std::wstring& lastLine) {
    const std::size_t before = app.PaneText().size();
    if (!app.Press(IDC_START)) return L"(Start not pressed)";
    app.WaitForPane([&](const std::wstring& text) { return text.size() > before && EndsWith(text, lastLine); },
                    kPaneWait);
    return app.PaneText().substr(before);
}

std::wstring FirstLine(const std::wstring& text) { return text.substr(0, text.find(L"\r\n")); }

// Without an audio server Start always fails, after it has read and logged the settings.
class ServerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_NO_AUDIO_SERVER(); }

    std::wstring UrlAfterTyping(const std::wstring& host, const std::wstring& port) {
        if (!app.Type(IDC_SERVER, host) || !app.Type(IDC_PORT, port)) return L"(not typed)";
        return FirstLine(PressStartUntil(app, L"[Error] WASAPI start failed\r\n"));
    }

    AppSession app{LiveProgram()};
};

TEST_F(ServerSettingsTest, FailedStartLogsTheUrlTheCauseAndTheFailure) {
    const std::wstring added = PressStartUntil(app, L"[Error] WASAPI start failed\r\n");
    EXPECT_EQ(FirstLine(added), L"[Info] Using server: http://127.0.0.1:8080/inference");
    EXPECT_EQ(std::count(added.begin(), added.end(), L'\n'), 3) << WideToUtf8(added);  // the cause in between
    // Start can be retried at once, with the same outcome.
    EXPECT_EQ(PressStartUntil(app, L"[Error] WASAPI start failed\r\n"), added);
    // Stop while idle does nothing.
    const std::wstring text = app.PaneText();
    ASSERT_TRUE(app.Press(IDC_STOP));
    EXPECT_EQ(app.PaneText(), text);
}

TEST_F(ServerSettingsTest, HostIsTrimmedDefaultedAndCut) {
    const std::wstring prefix = L"[Info] Using server: http://";
    EXPECT_EQ(UrlAfterTyping(L"  10.0.0.5\t", L"8080"), prefix + L"10.0.0.5:8080/inference");
    EXPECT_EQ(UrlAfterTyping(L"", L"8080"), prefix + L"127.0.0.1:8080/inference");
    EXPECT_EQ(UrlAfterTyping(L"   ", L"8080"), prefix + L":8080/inference");
    EXPECT_EQ(UrlAfterTyping(L"my host", L"8080"), prefix + L"my host:8080/inference");
    EXPECT_EQ(UrlAfterTyping(L"\x670D\x52A1\x5668", L"8080"), prefix + L"\x670D\x52A1\x5668:8080/inference");
    const std::wstring longHost(300, L'h');
    EXPECT_EQ(UrlAfterTyping(longHost, L"8080"), prefix + std::wstring(254, L'h') + L":8080/inference");
}

TEST_F(ServerSettingsTest, PortOutsideItsRangeFallsBackTo8080) {
    const std::wstring prefix = L"[Info] Using server: http://127.0.0.1:";
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"65535", L"65535"}, {L"1", L"1"},       {L"0", L"8080"},           {L"65536", L"8080"},
        {L"-1", L"8080"},     {L"abc", L"8080"},  {L"", L"8080"},            {L"99999999999", L"8080"},
        {L"80x", L"80"},      {L" 8080", L"8080"}, {L"00000000000000080", L"8080"},  // only 14 characters read
    };
    for (const auto& [typed, port] : cases) {
        EXPECT_EQ(UrlAfterTyping(L"127.0.0.1", typed), prefix + port + L"/inference") << "typed: " << WideToUtf8(typed);
    }
}

// Chunk length and language show in the line of a successful start.
class RecordingSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_AUDIO_SERVER();
        server.SetReply(Reply(200, R"({"text": ""})"));
        app = std::make_unique<AppSession>(LiveProgram());
        // Chunks cut meanwhile go here and are answered with empty text: nothing is logged.
        ASSERT_TRUE(app->Type(IDC_PORT, std::to_wstring(server.Port())));
    }

    std::wstring StartLineAfterTyping(const std::wstring& chunk) {
        if (!app->Type(IDC_CHUNK, chunk)) return L"(not typed)";
        const std::wstring added = PressStartUntil(*app, L"chunks to server...\r\n");
        app->Press(IDC_STOP);
        app->WaitForPane([](const std::wstring& text) { return EndsWith(text, L"[Info] Stopping...\r\n"); },
                         kPaneWait);
        const std::size_t lastLine = added.rfind(L"\r\n", added.size() - 3);
        return added.substr(lastLine == std::wstring::npos ? 0 : lastLine + 2);
    }

    LoopbackServer server;
    std::unique_ptr<AppSession> app;
};

TEST_F(RecordingSettingsTest, ChunkLengthIsClampedOrDefaulted) {
    const std::pair<const wchar_t*, int> cases[] = {
        {L"7", 7},    {L"0", 1},   {L"-5", 1},           {L"31", 30}, {L"1000", 30},
        {L"", 7},     {L"abc", 7}, {L"99999999999", 7},  {L"12abc", 12}, {L"30", 30},
    };
    for (const auto& [typed, seconds] : cases) {
        EXPECT_EQ(StartLineAfterTyping(typed), L"[Info] Recording started (WASAPI, language=zh). Sending " +
                                                   std::to_wstring(seconds) + L"s MP3 chunks to server...\r\n")
            << "typed: " << WideToUtf8(typed);
    }
}

TEST_F(RecordingSettingsTest, LanguageIsReadFromTheList) {
    ASSERT_TRUE(app->SelectLanguage(0));
    EXPECT_EQ(StartLineAfterTyping(L"7"),
              L"[Info] Recording started (WASAPI, language=auto). Sending 7s MP3 chunks to server...\r\n");
    ASSERT_TRUE(app->SelectLanguage(1));
    EXPECT_EQ(StartLineAfterTyping(L"7"),
              L"[Info] Recording started (WASAPI, language=en). Sending 7s MP3 chunks to server...\r\n");
}

}  // namespace
