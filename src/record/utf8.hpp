// UTF-16 to UTF-8 for the path column of the UTF8 layout.
#pragma once

#include <string>
#include <string_view>

#include "platform/path_syntax.hpp"

namespace filarix {

struct Utf8Text {
    std::string bytes;
    bool above_127 = false;
};

// Pairs become one 4-byte character, a lone surrogate its own 3 bytes, a
// high surrogate as the last unit ends the text; nothing longer than the
// 32,767 bytes of the conversion buffer. Where the syntax escapes raw bytes
// of names (U+DC80+byte), those bytes come back unchanged.
Utf8Text to_utf8(const platform::PathSyntax& syntax, std::u16string_view text);
// The same without the buffer's limits, for the formats that promise
// exact names: every unit is kept, however long the text and whatever
// its last unit.
std::string to_utf8_whole(const platform::PathSyntax& syntax, std::u16string_view text);

}  // namespace filarix
