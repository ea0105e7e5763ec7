// Fills the settings record from its sources, in order: the environment,
// the INI file, leading start paths and the options; then makes the
// settings consistent.
#pragma once

#include "core/run.hpp"

namespace filarix {

void parse_settings(Run& run);
// The rules that bring the settings into a consistent state after parsing.
void apply_consistency_rules(Run& run);
// The last rules, which shape the record; after them the settings do not
// change for the rest of the run.
void settle_settings(Run& run);
// An option argument starts with "-", "+" or, where "/" cannot begin a
// path, "/".
bool is_option_argument(const Run& run, std::u16string_view argument);

}  // namespace filarix
