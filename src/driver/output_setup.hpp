// Where the listing goes: a named file (new or appended), the standard
// output or the standard error stream, and the numbered split files.
#pragma once

#include <string>
#include <string_view>

#include "core/listing_file.hpp"
#include "core/run.hpp"

namespace filarix {

void open_output(Run& run);

}  // namespace filarix
