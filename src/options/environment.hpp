// The environment variables that give standing defaults.
#pragma once

#include "core/run.hpp"

namespace filarix {

void read_environment(Run& run);

}  // namespace filarix
