// The creation, write and access columns of a record, in local time or UTC.
#pragma once

#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Fills a times record from the three raw times of a search result.
int convert_times(platform::System& sys, const platform::FindData& data, TimesRecord& times,
                  bool zulu);
// Fills a times record from the path itself; 1 when it cannot be read
// (the record is then left as it was).
int times_of_path(platform::System& sys, std::u16string_view path, TimesRecord& times, bool zulu);
// One time column ('c', 'w' or 'a') and the zone column; each returns the
// number of characters written.
std::size_t write_time_column(Run& run, OutStream& out, const CalendarFields& f, char letter);
std::size_t write_zone_column(Run& run, OutStream& out);

}  // namespace filarix
