// The directory walker: depth first over subdirectories, the files of a
// directory after all its subdirectories, mask by mask.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"
#include "record/entry_tools.hpp"

namespace filarix {

// Directory paths end in a separator.
void walk_directory(Run& run, EntryTools& tools, const std::u16string& directory);
// The files of an open directory, mask by mask.
void list_directory_files(Run& run, EntryTools& tools, platform::DirHandle& handle,
                          const std::u16string& directory);
bool is_excluded(const RunSettings& s, std::u16string_view name);
// Ends the run on Ctrl+C (the interrupt signal or the key) or Esc.
void poll_user_abort(platform::System& sys);

}  // namespace filarix
