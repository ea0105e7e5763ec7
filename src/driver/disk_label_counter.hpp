// The DISKLABL counter file: one label in the current directory, whose
// number goes up by one at each use.
#pragma once

#include <string>

#include "core/run.hpp"

namespace filarix {

// Reads DISKLABL (creating it with "1000" when it is missing), stores the
// next label in it and returns that label.
std::string next_disk_label(platform::System& sys, OutStream& errors);

}  // namespace filarix
