// Fixed-width fields of a record counted in characters, so that a name
// with characters longer than one byte neither widens its field nor is
// cut inside a character.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/out_stream.hpp"

namespace filarix {

enum class Align { left, right };

// Writes at most precision characters of text, padded with blanks to
// width characters; returns the bytes written.
std::size_t put_fixed(OutStream& out, std::string_view text, int width, int precision, Align align,
                      bool utf8);

}  // namespace filarix
