#include "core/day_count.hpp"

namespace filarix {

int day_difference(const DateValue& file, const DateValue& bound) {
    // Both are midnights of standard time, so the seconds between them are
    // whole days: no clock, zone or daylight rule enters.
    return static_cast<int>(platform::days_from_civil(file.year, file.month, file.day) -
                            platform::days_from_civil(bound.year, bound.month, bound.day));
}

int days_since(platform::Clock& clock, const DateValue& date) {
    platform::CivilTime day;
    day.year = date.year;
    day.month = date.month;
    day.day = date.day;
    const auto midnight = clock.make_local(day);
    if (!midnight) return 0;
    return static_cast<int>((clock.now_seconds() - *midnight) / 86400);
}

}  // namespace filarix
