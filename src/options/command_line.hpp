// The options of the command line, from the first option argument on.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

void parse_options(Run& run, std::size_t first);

// Appends sort keys after the ones given before (-y, -Y, INI SORT): a key
// below '_' sorts descending, others ascending; "0" ends the keys. The
// table keeps 9 keys and the end mark; further keys are dropped.
void append_sort_keys(Run& run, std::u16string_view keys);
// Adds one upper-cased mask to the exclude list; the mask after the last
// slot ends the run with the -x message rather than being lost.
void add_exclude_mask(Run& run, std::u16string_view mask);

}  // namespace filarix
