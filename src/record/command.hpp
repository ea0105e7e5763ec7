// The command run for every listed file.
#pragma once

#include <string>

#include "core/run.hpp"

namespace filarix {

void run_file_command(Run& run, const std::u16string& complete_path,
                      const std::u16string& directory, const std::u16string& name);

}  // namespace filarix
