// The transcript files of the real program: chunk order whatever order the answers come
// in, every arrived line kept through a kill, the choice to keep none, and a folder that
// cannot be made.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/win/transcript_menu.h"
#include "app/win/window_state.h"
#include "tests/support/loopback_server.h"
#include "tests/win/window_test_support.h"
#include "transcribe/win/transcript_file.h"

namespace {

namespace fs = std::filesystem;

// The transcripts that appear during one test; they go with it.
class NewTranscripts {
public:
    NewTranscripts() : before_(Names()) {}
    ~NewTranscripts() {
        for (const fs::path& file : Files()) DeleteFileW(file.c_str());
    }
    std::vector<fs::path> Files() const {
        std::vector<fs::path> files;
        for (const fs::path& file : Names())
            if (!before_.count(file)) files.push_back(file);
        return files;
    }
    static std::wstring Folder() {
        std::wstring folder;
        std::string error;
        EXPECT_TRUE(MakeTranscriptFolder(folder, error)) << error;
        return folder;
    }

private:
    static std::set<fs::path> Names() {
        std::set<fs::path> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(Folder(), error)) names.insert(entry.path());
        return names;
    }
    std::set<fs::path> before_;
};

struct FileLine {
    int second;  // of the day
    std::string text;
};

// A transcript's lines after its byte-order mark, each "[HH:MM:SS] text" and CR LF.
std::vector<FileLine> ReadLines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "no byte-order mark";
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "a torn last line";
    std::vector<FileLine> lines;
    for (std::size_t start = 3, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        int h = 0, m = 0, s = 0, used = 0;
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(std::sscanf(line.c_str(), "[%2d:%2d:%2d] %n", &h, &m, &s, &used), 3) << line;
        lines.push_back({h * 3600 + m * 60 + s, line.substr(static_cast<std::size_t>(used))});
    }
    return lines;
}

// Answers the n-th upload "chunk n", the first one only after `firstDelay`.
void AnswerInArrivalOrder(LoopbackServer& server, std::chrono::milliseconds firstDelay) {
    auto count = std::make_shared<std::atomic<int>>(0);
    server.SetHandler([count, firstDelay](const RecordedRequest&) {
        const int n = ++*count;
        Reply reply(200, R"({"text":"chunk )" + std::to_string(n) + R"("})");
        if (n == 1) reply.delay = firstDelay;
        return reply;
    });
}

bool Shows(const std::wstring& pane, int chunk) {
    return pane.find(L"\r\nchunk " + std::to_wstring(chunk) + L"\r\n") != std::wstring::npos;
}

// Records in 1 s chunks until the pane shows the answers of chunks `first` to `last`;
// returns the pane. Stops, closes and waits for the end unless `kill`, which ends the
// program as Task Manager does.
std::wstring Record(const LoopbackServer& server, int first, int last, bool kill = false) {
    AppSession app(LiveProgram());
    EXPECT_TRUE(app.Type(IDC_PORT, std::to_wstring(server.Port())) && app.Type(IDC_CHUNK, L"1") &&
                app.Press(IDC_START));
    const auto shown = [first, last](const std::wstring& pane) {
        for (int chunk = first; chunk <= last; ++chunk)
            if (!Shows(pane, chunk)) return false;
        return true;
    };
    EXPECT_TRUE(app.WaitForPane(shown, std::chrono::seconds(30))) << WideToUtf8(app.PaneText());
    const std::wstring pane = app.PaneText();
    if (!kill) {
        EXPECT_TRUE(app.Press(IDC_STOP));
        app.Close();
        EXPECT_TRUE(app.WaitForExit(std::chrono::seconds(30)));
    }
    return pane;
}

TEST(TranscriptTest, LinesFollowTheChunksWhenAnswersComeOutOfOrder) {
    REQUIRE_AUDIO_SERVER();
    NewTranscripts transcripts;
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::milliseconds(2500));
    const std::wstring pane = Record(server, 1, 4);
    EXPECT_LT(pane.find(L"\r\nchunk 2\r\n"), pane.find(L"\r\nchunk 1\r\n")) << "the answers came in order";
    ASSERT_EQ(transcripts.Files().size(), 1u);
    const auto lines = ReadLines(transcripts.Files()[0]);
    ASSERT_EQ(lines.size(), server.Requests().size()) << "a line for every chunk sent";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, "chunk " + std::to_string(i + 1));
        EXPECT_NEAR(lines[i].second - lines[i > 0 ? i - 1 : 0].second, i > 0 ? 1 : 0, 1) << "line " << i;
    }
    EXPECT_NEAR(lines.back().second - lines.front().second, static_cast<int>(lines.size()) - 1, 1);
}

TEST(TranscriptTest, AKilledProgramLeavesEveryLineWhoseAnswerArrived) {
    REQUIRE_AUDIO_SERVER();
    NewTranscripts transcripts;
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::seconds(60));  // the first never comes in time
    const std::wstring pane = Record(server, 2, 3, true);
    ASSERT_EQ(transcripts.Files().size(), 1u);
    std::set<std::string> kept;
    for (const FileLine& line : ReadLines(transcripts.Files()[0])) kept.insert(line.text);
    for (int chunk = 2; Shows(pane, chunk); ++chunk) EXPECT_TRUE(kept.count("chunk " + std::to_string(chunk))) << chunk;
    EXPECT_FALSE(kept.count("chunk 1"));
}

TEST(TranscriptTest, NoFileWhileTheUserKeepsNoneAfterARestart) {
    REQUIRE_AUDIO_SERVER();
    const auto forget = [] { RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kKeepTranscriptsValue); };
    forget();
    NewTranscripts transcripts;
    {
        AppSession app(LiveProgram());
        ASSERT_EQ(SendTimed(app.MainWindow(), WM_SYSCOMMAND, IDM_KEEP_TRANSCRIPTS, 0).value_or(-1), 0);
        app.Close();
        ASSERT_TRUE(app.WaitForExit(std::chrono::seconds(30)));
    }
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::milliseconds(0));
    Record(server, 1, 2);
    forget();
    EXPECT_TRUE(transcripts.Files().empty());
}

// A plain file where the folder should be: as any system refuses it, root included.
TEST(TranscriptTest, AFolderThatCannotBeMadeIsReportedOnceAndRecordingGoesOn) {
    REQUIRE_AUDIO_SERVER();
    const std::wstring folder = NewTranscripts::Folder();
    const std::wstring aside = folder + L".test-aside";
    ASSERT_TRUE(MoveFileW(folder.c_str(), aside.c_str()));
    std::ofstream(fs::path(folder)) << "in the way";
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::milliseconds(0));
    const std::wstring pane = Record(server, 1, 3);
    DeleteFileW(folder.c_str());
    ASSERT_TRUE(MoveFileW(aside.c_str(), folder.c_str()));
    const std::wstring warning = L"\r\n[Warn] Transcript not saved: could not make the folder " + folder + L": ";
    const std::size_t at = pane.find(warning);
    ASSERT_NE(at, std::wstring::npos) << WideToUtf8(pane);
    EXPECT_EQ(pane.find(L"[Warn]", at + warning.size()), std::wstring::npos) << "one warning per recording";
    EXPECT_LT(pane.find(L"[Info] Recording started"), at);
}

}  // namespace
