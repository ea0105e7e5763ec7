// The one way a run ends: close out the listing, write the totals to the
// listing, the log and the console, and end with the exit reason.
#pragma once

#include <string>

#include "driver/run.hpp"

// Never returns: throws RunEnded{reason} once everything is written. Safe
// to enter again from inside its own close-out (the close-out then runs
// only once).
[[noreturn]] void terminate_run(Run& run, int reason);

// Ends the process at once, without a summary.
[[noreturn]] void end_process(Run& run, int code);

const char* exit_reason_text(int reason);

// The 24-character calendar text of a moment, in local time, as in
// "Thu Jan 01 00:00:00 1970".
std::string calendar_text(Run& run, std::int64_t seconds);
