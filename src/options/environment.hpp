// The environment variables that give standing defaults.
#pragma once

#include "core/run.hpp"

void read_environment(Run& run);
