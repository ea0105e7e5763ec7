// The help screens.
#pragma once

#include "driver/run.hpp"

void show_help(Run& run);
