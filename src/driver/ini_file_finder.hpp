// Finds the INI file of standing settings and reads it for the INI source.
#pragma once

#include <optional>

#include "core/run.hpp"

namespace filarix {

// The first of the places that holds the file, read whole. When the file
// is there and cannot be opened, says so and waits for Enter; nothing then,
// as when there is no file.
std::optional<IniFileText> find_and_read_ini_file(Run& run);

}  // namespace filarix
