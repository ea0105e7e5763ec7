// The accounting log (one block per run) and the start banner.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/log_file.hpp"
#include "core/run.hpp"

namespace filarix {

// The three-letter abbreviation of the standard time zone ("EST", "TZ0").
std::string zone_abbreviation(platform::System& sys);
// Every argument into the log, a "|" argument quoted.
void echo_command_line(platform::System& sys, const std::vector<std::u16string>& args,
                       OutStream* log);
// When the run started, in GMT and local time, to the output stream (and
// to a log opened from the environment), with the command line.
void write_start_banner(Run& run);

}  // namespace filarix
