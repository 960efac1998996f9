// libFuzzer target for the interpretation of a server answer (InterpretAnswer).
// Input: one control byte that picks the status, then the body. Each input is read on
// a thread with a 2 MiB stack, what a worker thread gets in the Windows build, so that
// recursion which the native 8 MiB would survive still ends the run.
#include <pthread.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <nlohmann/json.hpp>

#include "transcribe/server_answer.h"

namespace {

using json = nlohmann::json;

constexpr std::size_t kWorkerStackBytes = 2u << 20;
const std::int32_t kStatuses[] = {200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, -1, 0, 302, 500};

struct Answer {
    std::int32_t status;
    std::string body;
    bool ok;
    std::string text;
    std::string error;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

void* Interpret(void* answer) {
    auto& a = *static_cast<Answer*>(answer);
    a.ok = InterpretAnswer(a.status, a.body, a.text, a.error);
    return nullptr;
}

void InterpretOnWorkerSizedStack(Answer& answer) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
    pthread_t thread;
    Check(pthread_create(&thread, &attributes, Interpret, &answer) == 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// The body parsed by the library's own DOM parser, with its deepest nesting as the
// parser counts it; a discarded value when the body is not one JSON value.
json ParseCountingDepth(const std::string& body, int& deepest) {
    deepest = 0;
    const auto count = [&deepest](int depth, json::parse_event_t event, json&) {
        if (event == json::parse_event_t::object_start || event == json::parse_event_t::array_start)
            deepest = std::max(deepest, depth + 1);
        return true;
    };
    return json::parse(body, count, /*allow_exceptions=*/false, /*ignore_comments=*/false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    Answer answer{kStatuses[data[0] & 0x0F], body, false, {}, {}};
    InterpretOnWorkerSizedStack(answer);

    Check(answer.ok ? answer.error.empty() : answer.text.empty());
    if (answer.status != 200) {
        Check(!answer.ok && answer.error == "HTTP " + std::to_string(answer.status) + ": " + answer.body);
        return 0;
    }
    int depth = 0;
    const json value = ParseCountingDepth(answer.body, depth);
    const bool readable = answer.body.find('\0') == std::string::npos && !value.is_discarded() &&
                          depth <= kMaxAnswerDepth;
    Check(answer.ok == readable);
    if (!answer.ok) {
        Check(answer.error == "Invalid JSON from server");
    } else if (value.is_object() && value.contains("text") && value["text"].is_string()) {
        Check(answer.text == value["text"].get<std::string>());
    }
    return 0;
}
