// Sorting the finished listing file in place.
#pragma once

#include <string>

#include "core/run.hpp"

void sort_output_file(Run& run, const std::u16string& name);
