// The INI file of standing settings.
#pragma once

#include "core/run.hpp"

namespace filarix {

void read_ini_file(Run& run);

}  // namespace filarix
