// Word error rate: word-level edit distance over the number of reference words.
#pragma once

#include <cstddef>
#include <string>

namespace speech_server::testing {

// Substitutions + deletions + insertions turning the reference into the hypothesis.
std::size_t WordErrors(const std::string& reference, const std::string& hypothesis);
std::size_t WordCount(const std::string& text);

}  // namespace speech_server::testing
