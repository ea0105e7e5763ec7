// The accounting log file: opened for appending, its directory made and a
// damaged end cleaned first, and its write errors.
#pragma once

#include <memory>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Opens the log for appending (after making its directory and cleaning a
// damaged end); null when it cannot be opened. A log that can be neither
// opened nor created for the clean-up ends the run with OUTPUT_FILE.
std::unique_ptr<OutStream> open_accounting_log(Run& run, std::u16string_view name);
// Closes the open log, if any, before another takes its place.
void close_accounting_log(RunStreams& streams);
// Ends the run with WRITE_ERROR, naming the log, once a log write failed.
void check_log_written(platform::System& sys, RunStreams& streams);

}  // namespace filarix
