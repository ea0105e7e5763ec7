// Output-name masks and the automatic log name.
#pragma once

#include <string>

#include "core/run.hpp"

namespace filarix {

// Rewrites run.s.output_name in place when it carries a date, time or
// computer-name mask after "\MMDD", "\YYYY", "\YYMM" or "COMPUTERNAME".
void expand_output_mask(Run& run);
// The output file's name with its extension replaced by ".log".
std::u16string automatic_log_name(Run& run);

}  // namespace filarix
