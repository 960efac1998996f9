// Interpretation of the recognition server's complete answer to one upload: its status
// and body become a transcript or an error message. No I/O, so tests and fuzzers call
// exactly what PostChunk calls.
#pragma once

#include <cstdint>
#include <string>

// Deepest nesting of arrays and objects that an answer may have; a deeper one is
// "Invalid JSON from server". Real answers nest four or five levels. Writing an answer
// back recurses once per level, and 128 levels take a few tens of KiB of a worker's
// stack (2 MiB on Windows), so nothing that passes the bound can exhaust it.
constexpr int kMaxAnswerDepth = 32;

// True with the transcript (maybe empty) in `text`, or false with the message in
// `error`. Only status 200 with exactly one JSON value is a transcript.
bool InterpretAnswer(std::int32_t status, const std::string& body, std::string& text, std::string& error);
