// The INI file of standing settings.
#pragma once

#include "core/run.hpp"

void read_ini_file(Run& run);
