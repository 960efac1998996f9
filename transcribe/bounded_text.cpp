#include "transcribe/bounded_text.h"

BoundedTextBuffer::int_type BoundedTextBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
}

std::streamsize BoundedTextBuffer::xsputn(const char* s, std::streamsize count) {
    const std::size_t wanted = static_cast<std::size_t>(count);
    const std::size_t room = capacity_ - text_.size();
    text_.append(s, wanted < room ? wanted : room);
    if (wanted > room) throw TextBoundReached{};
    return count;
}

std::size_t Utf8WholePrefix(const std::string& text) {
    // Step back over at most three continuation bytes to the lead byte of the last character.
    std::size_t lead = text.size();
    for (int back = 0; back < 4 && lead > 0; ++back) {
        const auto byte = static_cast<unsigned char>(text[--lead]);
        if ((byte & 0xC0) == 0x80) continue;
        const std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        return lead + length <= text.size() ? text.size() : lead;
    }
    return text.size();
}
