// Names as the program prints them: in the listing, the progress line, the
// log and messages. Control characters (U+0000-U+001F, U+007F) become "?",
// so that no name can add a line or steer a terminal; every other byte is
// printed as it is.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace filarix {

// Replaces the control bytes of 8-bit text in place. UTF-8 and the Windows
// code pages never use these bytes inside a longer character.
void mask_controls(std::string& text);
void mask_controls(std::u16string& text);

// The platform's 8-bit form of a name, control characters masked.
std::string shown_name(platform::Text& text, std::u16string_view name);

}  // namespace filarix
