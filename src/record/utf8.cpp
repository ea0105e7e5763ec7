#include "record/utf8.hpp"

namespace filarix {

namespace {

constexpr std::size_t buffer_limit = 32767;  // 32,768 bytes with the terminator

Utf8Text convert(const platform::PathSyntax& syntax, std::u16string_view text, bool whole) {
    Utf8Text out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        char encoded[4];
        std::size_t n = 0;
        if (c > 127) out.above_127 = true;
        if (syntax.byte_escapes && c >= 0xDC80 && c <= 0xDCFF) {
            encoded[n++] = static_cast<char>(c - 0xDC00);
        } else {
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (i + 1 >= text.size() && !whole) break;
                if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                    ++i;
                }
            }
            if (c < 0x80) {
                encoded[n++] = static_cast<char>(c);
            } else if (c < 0x800) {
                encoded[n++] = static_cast<char>(0xC0 | (c >> 6));
                encoded[n++] = static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                encoded[n++] = static_cast<char>(0xE0 | (c >> 12));
                encoded[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                encoded[n++] = static_cast<char>(0x80 | (c & 0x3F));
            } else {
                encoded[n++] = static_cast<char>(0xF0 | (c >> 18));
                encoded[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                encoded[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                encoded[n++] = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        if (!whole && out.bytes.size() + n > buffer_limit) break;
        out.bytes.append(encoded, n);
    }
    return out;
}

}  // namespace

Utf8Text to_utf8(const platform::PathSyntax& syntax, std::u16string_view text) {
    return convert(syntax, text, false);
}

std::string to_utf8_whole(const platform::PathSyntax& syntax, std::u16string_view text) {
    return convert(syntax, text, true).bytes;
}

}  // namespace filarix
