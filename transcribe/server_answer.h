// Interpretation of the recognition server's complete answer to one upload: its status
// and body become a transcript or an error message. No I/O, so tests and fuzzers call
// exactly what PostChunk calls.
#pragma once

#include <cstdint>
#include <string>

// Deepest nesting of arrays and objects that an answer may have; a deeper one is
// "Invalid JSON from server". Real answers nest four or five levels. Writing an answer
// back recurses once per level, about 180 bytes of stack each in the Windows build,
// whose workers have 2 MiB; it also indents two spaces per level, so the bound caps how
// many times longer than the body the serialised answer can grow (about 34).
constexpr int kMaxAnswerDepth = 32;

// True with the transcript (maybe empty) in `text`, or false with the message in
// `error`. Only status 200 with exactly one JSON value is a transcript.
bool InterpretAnswer(std::int32_t status, const std::string& body, std::string& text, std::string& error);
