// Start paths and masks in the stored form the walker expects: full paths
// with the long-path prefix, no duplicates, masks split off path arguments.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

void add_start_path(Run& run, std::u16string_view path);
void add_path_argument(Run& run, std::u16string_view argument);
// A start path given bare on the command line: a directory, or a file (or
// mask) taken as its directory plus the name as mask; one that does not
// exist is named on the error stream and counted in run.missing_start_paths.
void add_bare_argument(Run& run, std::u16string_view argument);
void add_mask(Run& run, std::u16string_view mask);
// The command text with its program replaced by the program's full path
// when the search path finds it; sets run.s.command_program_length.
std::u16string resolve_command_program(Run& run, std::u16string_view command);

// The stored form of a full path: one trailing separator removed, and the
// long-path prefix in front unless the path starts with a separator or
// already carries a "?" as its third character.
std::u16string stored_start_path(const platform::PathSyntax& syntax, std::u16string_view full);

}  // namespace filarix
