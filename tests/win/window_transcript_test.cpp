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

struct FileLine {
    int second;  // of the day
    std::string text;
};

// The recordings' folder and the transcripts that appear in it during one test, which
// go with the test.
class TranscriptFolder {
public:
    TranscriptFolder() {
        std::string error;
        EXPECT_TRUE(MakeTranscriptFolder(folder_, error)) << error;
        before_ = Names();
    }
    ~TranscriptFolder() {
        for (const fs::path& file : NewFiles()) DeleteFileW(file.c_str());
    }
    const std::wstring& Path() const { return folder_; }
    std::vector<fs::path> NewFiles() const {
        std::vector<fs::path> files;
        for (const fs::path& name : Names())
            if (!before_.count(name)) files.push_back(fs::path(folder_) / name);
        return files;
    }
    // The one new transcript's lines, after its byte-order mark; fails the test otherwise.
    static std::vector<FileLine> Lines(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const std::string text = bytes.str();
        EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "no byte-order mark";
        std::vector<FileLine> lines;
        for (std::size_t start = 3, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            int h = 0, m = 0, s = 0, used = 0;
            const std::string line = text.substr(start, end - start);
            EXPECT_EQ(std::sscanf(line.c_str(), "[%2d:%2d:%2d] %n", &h, &m, &s, &used), 3) << line;
            lines.push_back({h * 3600 + m * 60 + s, line.substr(static_cast<std::size_t>(used))});
        }
        EXPECT_EQ(text.size() >= 2 ? text.substr(text.size() - 2) : text, "\r\n") << "a torn last line";
        return lines;
    }

private:
    std::set<fs::path> Names() const {
        std::set<fs::path> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder_, error)) names.insert(entry.path().filename());
        return names;
    }
    std::wstring folder_;
    std::set<fs::path> before_;
};

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

// Records in 1 s chunks to `server` until `done` holds for the pane.
void Record(AppSession& app, const LoopbackServer& server, const std::function<bool(const std::wstring&)>& done) {
    ASSERT_TRUE(app.Type(IDC_PORT, std::to_wstring(server.Port())));
    ASSERT_TRUE(app.Type(IDC_CHUNK, L"1"));
    ASSERT_TRUE(app.Press(IDC_START));
    ASSERT_TRUE(app.WaitForPane(done, std::chrono::seconds(30))) << WideToUtf8(app.PaneText());
}

bool Shows(const std::wstring& pane, int chunk) {
    return pane.find(L"\r\nchunk " + std::to_wstring(chunk) + L"\r\n") != std::wstring::npos;
}

TEST(TranscriptTest, LinesFollowTheChunksWhenAnswersComeOutOfOrder) {
    REQUIRE_AUDIO_SERVER();
    TranscriptFolder folder;
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::milliseconds(2500));
    std::wstring pane;
    {
        AppSession app(LiveProgram());
        Record(app, server, [](const std::wstring& t) { return Shows(t, 1) && Shows(t, 4); });
        ASSERT_TRUE(app.Press(IDC_STOP));
        pane = app.PaneText();
        app.Close();
        ASSERT_TRUE(app.WaitForExit(std::chrono::seconds(30)));
    }
    EXPECT_LT(pane.find(L"\r\nchunk 2\r\n"), pane.find(L"\r\nchunk 1\r\n")) << "the answers came in order";
    const auto files = folder.NewFiles();
    ASSERT_EQ(files.size(), 1u);
    const auto lines = TranscriptFolder::Lines(files[0]);
    ASSERT_EQ(lines.size(), server.Requests().size()) << "a line for every chunk sent";
    ASSERT_GE(lines.size(), 4u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, "chunk " + std::to_string(i + 1));
        if (i > 0) {
            EXPECT_NEAR(lines[i].second - lines[i - 1].second, 1, 1) << "line " << i;
        }
    }
    EXPECT_NEAR(lines.back().second - lines.front().second, static_cast<int>(lines.size()) - 1, 1);
}

TEST(TranscriptTest, AKilledProgramLeavesEveryLineWhoseAnswerArrived) {
    REQUIRE_AUDIO_SERVER();
    TranscriptFolder folder;
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::seconds(60));  // the first never comes in time
    std::wstring pane;
    {
        AppSession app(LiveProgram());
        Record(app, server, [](const std::wstring& t) { return Shows(t, 3); });
        pane = app.PaneText();
    }  // ends the program as Task Manager does
    const auto files = folder.NewFiles();
    ASSERT_EQ(files.size(), 1u);
    std::set<std::string> kept;
    for (const FileLine& line : TranscriptFolder::Lines(files[0])) kept.insert(line.text);
    for (int chunk = 2; Shows(pane, chunk); ++chunk) EXPECT_TRUE(kept.count("chunk " + std::to_string(chunk))) << chunk;
    EXPECT_FALSE(kept.count("chunk 1"));
}

// The kept choice is forgotten before and after, so every test starts from the default.
struct ForgetTranscriptChoice {
    ForgetTranscriptChoice() { Forget(); }
    ~ForgetTranscriptChoice() { Forget(); }
    static void Forget() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kKeepTranscriptsValue); }
};

TEST(TranscriptTest, NoFileWhileTheUserKeepsNone) {
    REQUIRE_AUDIO_SERVER();
    ForgetTranscriptChoice forget;
    TranscriptFolder folder;
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::milliseconds(0));
    {
        AppSession app(LiveProgram());
        ASSERT_EQ(SendTimed(app.MainWindow(), WM_SYSCOMMAND, IDM_KEEP_TRANSCRIPTS, 0).value_or(-1), 0);
        app.Close();
        ASSERT_TRUE(app.WaitForExit(std::chrono::seconds(30)));
    }
    {
        AppSession app(LiveProgram());  // the choice holds for the next start
        Record(app, server, [](const std::wstring& t) { return Shows(t, 2); });
        ASSERT_TRUE(app.Press(IDC_STOP));
        app.Close();
        ASSERT_TRUE(app.WaitForExit(std::chrono::seconds(30)));
    }
    EXPECT_TRUE(folder.NewFiles().empty());
}

// A plain file where the folder should be: as any system refuses it, root included.
TEST(TranscriptTest, AFolderThatCannotBeMadeIsReportedOnceAndRecordingGoesOn) {
    REQUIRE_AUDIO_SERVER();
    const std::wstring folder = TranscriptFolder().Path();
    const std::wstring aside = folder + L".test-aside";
    ASSERT_TRUE(MoveFileW(folder.c_str(), aside.c_str()));
    std::ofstream(fs::path(folder)) << "in the way";
    LoopbackServer server;
    AnswerInArrivalOrder(server, std::chrono::milliseconds(0));
    std::wstring pane;
    {
        AppSession app(LiveProgram());
        Record(app, server, [](const std::wstring& t) { return Shows(t, 3); });
        pane = app.PaneText();
    }
    DeleteFileW(folder.c_str());
    ASSERT_TRUE(MoveFileW(aside.c_str(), folder.c_str()));
    const std::wstring warning = L"\r\n[Warn] Transcript not saved: could not make the folder " + folder + L": ";
    const std::size_t at = pane.find(warning);
    ASSERT_NE(at, std::wstring::npos) << WideToUtf8(pane);
    EXPECT_EQ(pane.find(L"[Warn]", at + warning.size()), std::wstring::npos) << "one warning per recording";
    EXPECT_LT(pane.find(L"[Info] Recording started"), at);
}

}  // namespace
