// Interpretation of the recognition server's complete answer to one upload: its status
// and body become a transcript or an error message. No I/O, so tests and fuzzers call
// exactly what PostChunk calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Deepest nesting of arrays and objects that an answer may have; a deeper one is
// "Invalid JSON from server". Real answers nest four or five levels. Writing an answer
// back recurses once per level, about 180 bytes of stack each in the Windows build,
// whose workers have 2 MiB.
constexpr int kMaxAnswerDepth = 32;

// An answer without a transcript is shown serialised at indent 2, which can make a 16 MiB
// answer hundreds of MB of text. Its display text stops at this many bytes: the log pane
// takes one insertion of at most 3,000,000 UTF-16 units (kPaneTrimTarget, FitPaneText)
// and each byte becomes at most one unit, two for an LF (made CR LF), so the pane shows
// all that is kept. A longer one ends at the last whole character within the bound,
// followed by kAnswerCutMarker.
constexpr std::size_t kMaxAnswerDisplayBytes = 1'500'000;
constexpr const char* kAnswerCutMarker = "\n[... rest of the answer left out ...]";

// True with the transcript (maybe empty) in `text`, or false with the message in
// `error`. Only status 200 with exactly one JSON value is a transcript.
bool InterpretAnswer(std::int32_t status, const std::string& body, std::string& text, std::string& error);
