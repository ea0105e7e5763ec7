// The help screens.
#pragma once

#include "core/run.hpp"

namespace filarix {

void show_help(Run& run);

}  // namespace filarix
