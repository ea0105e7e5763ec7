// The line of column titles at the head of a listing file.
#pragma once

#include "core/run.hpp"

namespace filarix {

int write_header_line(Run& run);

}  // namespace filarix
