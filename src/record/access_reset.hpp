// Putting a file's attributes and times back after its contents were read.
#pragma once

#include "core/run.hpp"

namespace filarix {

void restore_entry_times(Run& run, const CurrentEntry& entry);

}  // namespace filarix
