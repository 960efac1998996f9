#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

#include "transcribe/bounded_text.h"

namespace {

TEST(BoundedTextBuffer, KeepsItsCapacityThenStopsTheWriter) {
    for (const std::size_t capacity : {0, 1, 5, 6}) {
        BoundedTextBuffer buffer(capacity);
        std::ostream out(&buffer);
        out.exceptions(std::ios::badbit);
        bool stopped = false;
        int written = 0;
        try {
            for (; written < 3; ++written) out << (written == 1 ? "x" : "abc");  // 7 bytes in all
        } catch (const TextBoundReached&) {
            stopped = true;
        }
        EXPECT_EQ(buffer.text(), std::string("abcxabc").substr(0, capacity));
        EXPECT_TRUE(stopped);
        EXPECT_LT(written, 3);
    }
    BoundedTextBuffer roomy(7);
    std::ostream out(&roomy);
    out.exceptions(std::ios::badbit);
    EXPECT_NO_THROW(out << "abc" << 'x' << "abc");
    EXPECT_EQ(roomy.text(), "abcxabc");
}

TEST(Utf8WholePrefix, DropsOnlyACharacterLeftIncomplete) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 0},
        {"ab", 2},
        {"a\xC3", 1},
        {"a\xC3\xA9", 3},
        {"a\xE2\x82", 1},
        {"a\xE2\x82\xAC", 4},
        {"\xF0\x9F\x98", 0},
        {"a\xF0\x9F\x98\x80", 5},
        {"\xC3\xA9\xF0", 2},
    };
    for (const auto& [text, whole] : cases) EXPECT_EQ(Utf8WholePrefix(text), whole) << text;
}

}  // namespace
