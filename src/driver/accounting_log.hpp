// The accounting log (one block per run) and the start banner.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "driver/run.hpp"

// Opens the log for appending (after making its directory and cleaning a
// damaged end); null when it cannot be opened. A log that can be neither
// opened nor created for the clean-up ends the run with OUTPUT_FILE.
std::unique_ptr<OutStream> open_accounting_log(Run& run, std::u16string_view name);
// Ends the run with WRITE_ERROR, naming the log, once a log write failed.
void check_log_written(Run& run);
// The three-letter abbreviation of the standard time zone ("EST", "TZ0").
std::string zone_abbreviation(Run& run);
// Every argument into the log, a "|" argument quoted.
void echo_command_line(Run& run);
// When the run started, in GMT and local time, to the output stream (and
// to a log opened from the environment), with the command line.
void write_start_banner(Run& run);
