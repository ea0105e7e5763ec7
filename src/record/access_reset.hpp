// Putting a file's attributes and times back after its contents were read.
#pragma once

#include "core/run.hpp"

namespace filarix {

// Puts back the attributes and the access and write times the directory
// search found for the entry (a creation time is left where the platform
// cannot set one). Whatever is unchanged is left alone, so a file read
// without touching its access time is not written to at all, and a link
// never is. A failure is counted in reset_failures; the first one is named
// on the error stream.
void restore_entry_times(platform::System& sys, RunStreams& streams, Counters& counts,
                         const CurrentEntry& entry);

}  // namespace filarix
