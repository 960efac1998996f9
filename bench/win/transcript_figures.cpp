// Figures of the transcript file, printed: how long a chunk's line takes from its answer
// to the disk (written and flushed), in order, and when it fills a gap that later lines
// were waiting behind. Writes into Documents\Valdrin Live and removes its files. Run
// inside the test bed (source its env):
//   wine build/win/bench/win/transcript_figures.exe
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "transcribe/win/transcript_file.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kText = "and mister john dashwood had then leisure to consider what he might do for them";

double MedianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

std::shared_ptr<Transcript> NewTranscript(WORD second) {
    SYSTEMTIME start = {2001, 1, 1, 1, 0, 0, second, 0};
    std::string error;
    auto file = CreateTranscriptFile(start, error);
    if (!file) {
        std::fprintf(stderr, "no transcript file: %s\n", error.c_str());
        std::exit(1);
    }
    return std::make_shared<Transcript>(std::move(file));
}

// Median time of filling the line that `waiting` later lines wait behind, over `rounds`.
double GapFillMs(int waiting, int rounds, WORD second) {
    auto transcript = NewTranscript(second);
    std::vector<double> samples;
    for (int round = 0; round < rounds; ++round) {
        std::vector<TranscriptLine> lines;
        for (int i = 0; i <= waiting; ++i) lines.emplace_back(transcript, std::chrono::system_clock::now());
        for (int i = 1; i <= waiting; ++i) lines[i].Text(kText);
        const auto start = Clock::now();
        lines[0].Text(kText);
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return MedianMs(samples);
}

}  // namespace

int main() {
    const double inOrder = GapFillMs(0, 300, 1);
    std::printf("line in order, answer to disk:             median %.3f ms\n", inOrder);
    for (int waiting : {1, 4, 15}) {
        const double fill = GapFillMs(waiting, 100, static_cast<WORD>(1 + waiting));
        std::printf("line that %2d later lines waited behind:    median %.3f ms (%.1f x in order)\n", waiting, fill,
                    fill / inOrder);
    }
    // The files are the benchmark's own: 2001-01-01, at the seconds used above.
    std::wstring folder;
    std::string error;
    if (MakeTranscriptFolder(folder, error)) {
        for (WORD second : {1, 2, 5, 16}) {
            wchar_t name[64];
            std::swprintf(name, 64, L"\\2001-01-01 00-00-%02u.txt", second);
            DeleteFileW((folder + name).c_str());
        }
    }
    return 0;
}
