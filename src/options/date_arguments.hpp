// Day counts and calendar dates given to the age options, and the small
// readers the option sources share: the date-format reader, the age in
// days, the compact-date converter and the kind letters.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

enum class AgeSide { older, newer };
// Where the value came from: the command line and long options refuse a
// day count above 190000, the INI file takes any number; long options
// convert compact dates first.
enum class AgeSource { command_line, long_option, ini_file };

// Month, day and year of a date text by its shape (MMDDYY, YYYY-MM-DD, ...).
DateValue read_date(std::string_view text);
// The day an age date names, read as the day count takes it: a leading
// four-digit year, else month, day and a year where 0-9 is 20xx and
// 10-99 is 19xx.
DateValue age_date(std::string_view text);
// An 8-digit date without separators as "YYYY-MM-DD" (a trailing kind
// letter kept); anything with a separator unchanged.
std::u16string compact_date(std::u16string_view value);
// Records the kind letters of a date text (the bound's own letter already
// cut off) in date_kinds: slot 2 for the older side ('a', 'c', or 'm' for
// the write time), slot 1 for the newer side ('a', 'c', 'w'); the last
// letter wins, and a text without one leaves the slot as it was.
void record_kind_letters(Run& run, std::string_view text, AgeSide side);
// Reads one -g/-l style value into the age bounds of its side. Ends the
// run with ILLEGAL_OPTION for a day count above 190000 (except from the
// INI file).
void read_age_value(Run& run, std::u16string_view value, AgeSide side, AgeSource source);

}  // namespace filarix
