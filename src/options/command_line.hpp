// The options of the command line, from the first option argument on.
#pragma once

#include <cstddef>

#include "driver/run.hpp"

void parse_options(Run& run, std::size_t first);
