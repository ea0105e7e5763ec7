// The creation, write and access columns of a record, in local time or UTC.
#pragma once

#include <string_view>

#include "core/run.hpp"

// Fills a times record from the three raw times of a search result.
int convert_times(Run& run, const platform::FindData& data, TimesRecord& times, bool zulu);
// Fills a times record from the path itself; 1 when it cannot be read
// (the record is then left as it was).
int times_of_path(Run& run, std::u16string_view path, TimesRecord& times, bool zulu);
// Writes the selected time columns and the zone column; returns the
// number of characters written.
std::size_t write_time_columns(Run& run, OutStream& out, const TimesRecord& times);

// The columns a time_type selects ('3' all three, lower or upper case).
bool shows_creation(int time_type);
bool shows_write(int time_type);
bool shows_access(int time_type);
