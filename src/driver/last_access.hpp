// Whether the system records last-access times, reported with every
// summary so that an examiner can judge the access dates of a listing.
#pragma once

#include <cstdint>

#include "core/run.hpp"

namespace filarix {

std::uint32_t read_last_access_setting(Run& run);
// Writes the report for the value terminate_run kept.
void report_last_access(Run& run, OutStream& out);

}  // namespace filarix
