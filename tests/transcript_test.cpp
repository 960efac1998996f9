// The transcript: lines in cut order whatever order the answers come in, every arrived
// line in the file at every moment, and one warning when the file fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "tests/support/log_recorder.h"
#include "tests/support/memory_transcript.h"
#include "transcribe/transcript.h"

namespace {

CaptureTime LocalTime(int hour, int minute, int second) {
    std::tm local = {};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 10;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(999);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(TranscriptTest, LinesStandInCutOrderAndEveryArrivedLineIsInTheFile) {
    const std::vector<std::vector<int>> arrivalOrders = {
        {0, 1, 2, 3}, {3, 2, 1, 0}, {2, 0, 3, 1}, {1, 3, 0, 2}, {0, 3, 1, 2}};
    for (const auto& order : arrivalOrders) {
        auto text = std::make_shared<std::string>();
        std::vector<TranscriptLine> lines;
        auto transcript = std::make_shared<Transcript>(std::make_unique<MemoryTranscript>(text));
        for (int chunk = 0; chunk < 4; ++chunk) lines.emplace_back(transcript, LocalTime(14, 3, 22 + 7 * chunk));
        std::vector<std::string> arrived;
        for (int chunk : order) {
            lines[chunk].Text("chunk " + std::to_string(chunk));
            arrived.push_back("chunk " + std::to_string(chunk));
            // A kill now would leave exactly the arrived lines, nothing torn or doubled.
            std::vector<std::string> inFile;
            for (const std::string& line : Lines(*text)) inFile.push_back(line.substr(11));
            std::sort(inFile.begin(), inFile.end());
            std::sort(arrived.begin(), arrived.end());
            EXPECT_EQ(inFile, arrived) << ::testing::PrintToString(order);
        }
        EXPECT_EQ(*text, "[14:03:22] chunk 0\r\n[14:03:29] chunk 1\r\n[14:03:36] chunk 2\r\n"
                                 "[14:03:43] chunk 3\r\n")
            << ::testing::PrintToString(order);
    }
}

TEST(TranscriptTest, EveryChunkHasOneLineOnOneLine) {
    struct Case {
        const char* what;
        void (*fill)(TranscriptLine&);
        std::string line;
    };
    const Case cases[] = {
        {"text", [](TranscriptLine& l) { l.Text("and mister john"); }, "[09:05:01] and mister john"},
        {"CR LF, runs of breaks", [](TranscriptLine& l) { l.Text("a\r\nb\n\n\rc\rd"); }, "[09:05:01] a b c d"},
        {"NUL", [](TranscriptLine& l) { l.Text(std::string("a\0b", 3)); }, "[09:05:01] a\xEF\xBF\xBD" "b"},
        {"empty transcript", [](TranscriptLine& l) { l.Text(""); }, "[09:05:01] (no text)"},
        {"failure", [](TranscriptLine& l) { l.NoText("POST failed: Timeout was reached"); },
         "[09:05:01] (no text: POST failed: Timeout was reached)"},
        {"never filled", [](TranscriptLine&) {}, "[09:05:01] (no text: not sent)"},
        {"filled twice", [](TranscriptLine& l) { l.Text("first"); l.Text("second"); }, "[09:05:01] first"},
    };
    for (const Case& c : cases) {
        auto text = std::make_shared<std::string>();
        {
            TranscriptLine line(std::make_shared<Transcript>(std::make_unique<MemoryTranscript>(text)),
                                LocalTime(9, 5, 1));
            c.fill(line);
            TranscriptLine moved = std::move(line);  // a moved-from line writes nothing
        }
        EXPECT_EQ(*text, c.line + "\r\n") << c.what;
    }
}

TEST(TranscriptTest, AFailedWriteWarnsOnceAndLaterLinesAreDropped) {
    LogRecorder log;
    auto text = std::make_shared<std::string>();
    auto transcript =
        std::make_shared<Transcript>(std::make_unique<MemoryTranscript>(text, 1, "could not write to X: disk full"));
    std::vector<TranscriptLine> lines;
    for (int chunk = 0; chunk < 4; ++chunk) lines.emplace_back(transcript, LocalTime(10, 0, chunk));
    lines[0].Text("kept");
    lines[2].Text("fails");
    lines[1].Text("dropped");
    lines[3].Text("dropped");
    EXPECT_EQ(*text, "[10:00:00] kept\r\n");
    EXPECT_EQ(log.Entries(), std::vector<std::string>{"[Warn] Transcript not saved: could not write to X: disk full\n"});
}

}  // namespace
