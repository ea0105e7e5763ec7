// The environment variables that give standing defaults.
#pragma once

#include "driver/run.hpp"

void read_environment(Run& run);
