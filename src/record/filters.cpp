#include "record/filters.hpp"

#include <cstdint>

#include "core/day_count.hpp"

namespace filarix {

bool attribute_filter(const Run& run, std::uint32_t attributes) {
    namespace attr = platform::attr;
    const RunSettings& s = run.s;
    if (!s.attr_filter) return true;
    if (s.directories >= 2 && !(attributes & attr::directory)) return false;
    if (s.attr_readonly && !(attributes & attr::readonly)) return false;
    if (s.attr_system && !(attributes & attr::system)) return false;
    if (s.attr_hidden && !(attributes & attr::hidden)) return false;
    if (s.attr_archive && !(attributes & attr::archive)) return false;
    if (s.attr_encrypted && !(attributes & attr::encrypted)) return false;
    return true;
}

namespace {

DateValue date_of(const CalendarFields& f) {
    return DateValue{f.month, f.day, f.year};
}

// The entry's date a bound letter asks for: access, creation, else write.
const CalendarFields& time_by_letter(const TimesRecord& t, char letter) {
    if (letter == 'a') return t.access;
    if (letter == 'c') return t.creation;
    return t.write;
}

// Day-count bounds: the shared letter and the side's own letter choose
// together, creation first, then access, then the write time.
const CalendarFields& time_by_letters(const TimesRecord& t, char shared, char own) {
    if (shared == 'c' || own == 'c') return t.creation;
    if (shared == 'a' || own == 'a') return t.access;
    return t.write;
}

int age_of(Run& run, const CalendarFields& f) {
    return days_since(run.sys, date_of(f));
}

}  // namespace

bool age_filter(Run& run, const TimesRecord& t) {
    const RunSettings& s = run.s;
    if (!s.aging) return true;
    const auto& kinds = run.s.date_kinds;

    if (kinds[1] != '0' || kinds[2] != '0') {
        // Date bounds; a file of the bound date itself is inside either one.
        if (s.NEWER && kinds[1] != '0' &&
            day_difference(date_of(time_by_letter(t, kinds[3])), run.s.newer_date) < 0)
            return false;
        if (s.OLDER && kinds[2] != '0' &&
            day_difference(date_of(time_by_letter(t, run.s.older_kind)), run.s.older_date) >= 1)
            return false;
        return true;
    }

    if (s.OLDER && age_of(run, time_by_letters(t, kinds[0], run.s.older_kind)) < run.s.older_days)
        return false;
    if (s.NEWER && age_of(run, time_by_letters(t, kinds[0], kinds[3])) >= run.s.newer_days)
        return false;
    return true;
}

}  // namespace filarix
