// Whether the system records last-access times, reported with every
// summary so that an examiner can judge the access dates of a listing.
#pragma once

#include <cstdint>

#include "core/run.hpp"

namespace filarix {

std::uint32_t read_last_access_setting(platform::System& sys, const RunSettings& s);
// Writes the report for the value terminate_run kept.
void report_last_access(const platform::PathSyntax& syntax, std::uint32_t value, OutStream& out,
                        OutStream& notices);

}  // namespace filarix
