// The one way a run ends: close out the listing, write the totals to the
// listing, the log and the console, and end with the exit reason.
#pragma once

#include <string>

#include "core/run.hpp"

namespace filarix {

// Closes out the listing and writes the totals to the listing, the log and
// the console; returns the exit status. Only the driver calls it, once,
// when the run has ended (see end_run).
int terminate_run(Run& run, int reason);

const char* exit_reason_text(int reason);

// The 24-character calendar text of a moment, in local time, as in
// "Thu Jan 01 00:00:00 1970".
std::string calendar_text(platform::System& sys, std::int64_t seconds);
// The same in Greenwich time, straight from the clock's UTC conversion.
std::string utc_calendar_text(platform::System& sys, std::int64_t seconds);

}  // namespace filarix
