// The accounting log (one block per run) and the start banner.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "driver/run.hpp"

// Opens the log for appending (after cleaning a damaged end); null when it
// cannot be opened.
std::unique_ptr<OutStream> open_accounting_log(Run& run, std::u16string_view name);
// The three-letter abbreviation of the standard time zone ("EST", "TZ0").
std::string zone_abbreviation(Run& run);
// Every argument into the log, a "|" argument quoted.
void echo_command_line(Run& run);
void write_start_banner(Run& run);
