// Output-name masks and the automatic log name.
#pragma once

#include <string>

#include "core/run.hpp"

namespace filarix {

// What a dated output name is made of: one time in local and in UTC
// form, and the computer's name.
struct NameStamp {
    platform::CivilTime local;
    platform::CivilTime utc;
    std::u16string computer;
};

// The name with a date, time or computer-name mask after "\MMDD", "\YYYY",
// "\YYMM" or "COMPUTERNAME" filled in from the stamp; unchanged without one.
std::u16string expanded_output_name(const platform::PathSyntax& syntax, std::u16string_view name,
                                    const NameStamp& stamp);
// The output file's name with its extension replaced by ".log".
std::u16string automatic_log_name(Run& run);

}  // namespace filarix
