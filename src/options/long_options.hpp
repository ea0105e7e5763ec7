// Options written as words after "--".
#pragma once

#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Reads the text after "--". 0 when the option was handled or ignored,
// non-zero when it is malformed (the caller then ends the run).
int read_long_option(Run& run, std::u16string_view text);

}  // namespace filarix
