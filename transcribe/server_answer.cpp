#include "transcribe/server_answer.h"

#include <cstddef>
#include <iomanip>
#include <ostream>
#include <stdexcept>
#include <utility>
#include <nlohmann/json.hpp>

#include "transcribe/bounded_text.h"

namespace {

constexpr const char* kInvalidJsonError = "Invalid JSON from server";

using json = nlohmann::json;

// False when arrays and objects in `body` nest deeper than kMaxAnswerDepth. On JSON text
// this counts the exact depth (brackets inside strings do not count); on anything else
// the count may be off, but the parser rejects such text anyway. One cheap pass, so that
// neither the parser's memory nor any recursion over the value ever meets a deep answer.
bool NestsWithinLimit(const std::string& body) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxAnswerDepth) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// The member `key` of `value` when `value` is an object holding a string there.
const std::string* StringMember(const json& value, const char* key) {
    if (!value.is_object()) return nullptr;
    const auto member = value.find(key);
    if (member == value.end() || !member->is_string()) return nullptr;
    return &member->get_ref<const std::string&>();
}

// The segment texts joined by single spaces put between pieces; empty pieces count.
std::string JoinSegmentTexts(const json& segments) {
    std::string joined;
    for (const json& segment : segments) {
        const std::string* piece = StringMember(segment, "text");
        if (piece == nullptr) continue;
        if (!joined.empty()) joined += ' ';
        joined += *piece;
    }
    return joined;
}

// `answer` serialised at indent 2, as json::dump(2) writes it, but made only up to
// kMaxAnswerDisplayBytes; a longer one is cut there and marked.
std::string DisplayText(const json& answer) {
    BoundedTextBuffer buffer(kMaxAnswerDisplayBytes);
    std::ostream out(&buffer);
    out.exceptions(std::ios::badbit);
    std::string& text = buffer.text();
    try {
        out << std::setw(2) << answer;
    } catch (const TextBoundReached&) {
        text.resize(Utf8WholePrefix(text));
        text += kAnswerCutMarker;
    }
    return std::move(text);
}

// The transcript carried by a status-200 answer. Throws when the body is not exactly
// one JSON value (white space around it allowed), nests too deep, or anything else fails.
std::string TranscriptFromAnswer(const std::string& body) {
    // The parser takes a zero byte for the end of its input and would ignore whatever
    // follows; JSON text never holds one.
    if (body.find('\0') != std::string::npos) throw std::invalid_argument("zero byte in the answer");
    if (!NestsWithinLimit(body)) throw std::invalid_argument("answer nested too deep");
    const json answer = json::parse(body, /*cb=*/nullptr, /*allow_exceptions=*/true,
                                    /*ignore_comments=*/false);
    if (const std::string* text = StringMember(answer, "text")) return *text;
    if (answer.is_object()) {
        const auto segments = answer.find("segments");
        if (segments != answer.end() && segments->is_array()) {
            std::string joined = JoinSegmentTexts(*segments);
            if (!joined.empty()) return joined;
        }
    }
    return DisplayText(answer);
}

}  // namespace

bool InterpretAnswer(std::int32_t status, const std::string& body, std::string& text, std::string& error) {
    text.clear();
    error.clear();
    if (status != 200) {
        error = "HTTP " + std::to_string(status) + ": " + body;
        return false;
    }
    try {
        text = TranscriptFromAnswer(body);
    } catch (...) {
        error = kInvalidJsonError;
        return false;
    }
    return true;
}
