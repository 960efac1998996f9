#include "server/tests/support/word_error_rate.h"

#include <algorithm>
#include <sstream>
#include <vector>

namespace speech_server::testing {
namespace {

std::vector<std::string> Words(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> words;
    std::string word;
    while (stream >> word) words.push_back(word);
    return words;
}

}  // namespace

std::size_t WordErrors(const std::string& reference, const std::string& hypothesis) {
    const auto ref = Words(reference);
    const auto hyp = Words(hypothesis);
    // previous[j]: distance between the first i-1 reference words and the first j hypothesis words.
    std::vector<std::size_t> previous(hyp.size() + 1);
    std::vector<std::size_t> current(hyp.size() + 1);
    for (std::size_t j = 0; j <= hyp.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= ref.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= hyp.size(); ++j) {
            const std::size_t substitution = previous[j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1);
            current[j] = std::min({substitution, previous[j] + 1, current[j - 1] + 1});
        }
        std::swap(previous, current);
    }
    return previous[hyp.size()];
}

std::size_t WordCount(const std::string& text) { return Words(text).size(); }

}  // namespace speech_server::testing
