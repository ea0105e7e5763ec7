#include "record/fixed_field.hpp"

#include <algorithm>

namespace filarix {

namespace {

// The end of the character that starts at i.
std::size_t character_end(std::string_view text, std::size_t i, bool utf8) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (!utf8 || lead < 0xC2 || lead > 0xF4) return i + 1;
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (text.size() - i < length) return i + 1;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return i + 1;
    return i + length;
}

}  // namespace

std::size_t put_fixed(OutStream& out, std::string_view text, int width, int precision, Align align,
                      bool utf8) {
    std::size_t end = 0;
    std::size_t characters = 0;
    const std::size_t limit = precision < 0 ? 0 : static_cast<std::size_t>(precision);
    if (!utf8) {  // one byte a character
        end = characters = std::min(text.size(), limit);
    }
    while (end < text.size() && characters < limit) {
        end = character_end(text, end, utf8);
        ++characters;
    }
    const std::size_t pad = width > 0 && characters < static_cast<std::size_t>(width)
                                ? static_cast<std::size_t>(width) - characters
                                : 0;
    std::size_t written = 0;
    if (align == Align::right) written += out.repeat(' ', pad);
    written += out.put(text.substr(0, end));
    if (align == Align::left) written += out.repeat(' ', pad);
    return written;
}

}  // namespace filarix
