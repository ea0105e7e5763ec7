// Sorting the finished listing file in place.
#pragma once

#include <string>

#include "core/run.hpp"

namespace filarix {

void sort_output_file(Run& run, const std::u16string& name);

}  // namespace filarix
