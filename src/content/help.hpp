// The help screens.
#pragma once

#include "core/run.hpp"

void show_help(Run& run);
