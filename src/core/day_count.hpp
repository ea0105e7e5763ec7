// Whole days between calendar dates and from a date to now: the arithmetic
// the age bounds need, done on the numbers of a date, never on its text.
#pragma once

#include "core/run_settings.hpp"
#include "platform/platform.hpp"

namespace filarix {

// Whole days from the bound date to the file date, both at midnight in
// standard time; negative when the file date is earlier.
int day_difference(const DateValue& file, const DateValue& bound);
// Whole days from the date's local midnight to the clock's now, truncated
// toward zero; 0 when the clock cannot place that midnight.
int days_since(platform::Clock& clock, const DateValue& date);

}  // namespace filarix
