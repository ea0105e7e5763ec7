#include "record/time_fields.hpp"

namespace filarix {

namespace {

void convert_one(Run& run, platform::FileTicks raw, bool zulu, CalendarFields& out) {
    // A time the file system never set is shown as 00/00/1980 00:00.
    if (raw == 0) {
        out = CalendarFields{0, 0, 1980, 0, 0, 0, 0};
        return;
    }
    const auto t = zulu ? run.sys.to_utc(raw) : run.sys.to_local(raw);
    if (!t) {
        out = CalendarFields{0, 0, 1980, 0, 0, 0, 0};
        return;
    }
    out = CalendarFields{t->month, t->day, t->year, t->hour, t->minute, t->second, t->millisecond};
    if (t->year <= 1601 || t->hour > 24) out.hour = out.minute = out.second = 0;
    if (t->year <= 1601) {
        out.month = 0;
        out.day = 0;
        out.year = 1980;
    }
}

}  // namespace

int convert_times(Run& run, const platform::FindData& data, TimesRecord& times, bool zulu) {
    convert_one(run, data.access, zulu, times.access);
    convert_one(run, data.creation, zulu, times.creation);
    convert_one(run, data.write, zulu, times.write);
    times.raw_creation = data.creation;
    times.raw_access = data.access;
    times.raw_write = data.write;
    return 0;
}

int times_of_path(Run& run, std::u16string_view path, TimesRecord& times, bool zulu) {
    platform::FindData data;
    if (!run.sys.get_times(path, data.creation, data.access, data.write)) return 1;
    return convert_times(run, data, times, zulu);
}

std::size_t write_time_column(Run& run, OutStream& out, const CalendarFields& f, char letter) {
    const char d = run.s.delimiter;
    int n = run.s.REVERSE ? out.printf("%04d/%02d/%02d%c", f.year, f.month, f.day, d)
                          : out.printf("%02d/%02d/%04d%c", f.month, f.day, f.year, d);
    n += out.printf("%02d:%02d", f.hour, f.minute);
    if (run.s.time_type == '3' || run.s.seconds)
        n += out.printf(":%02d:%03d", f.second, f.millisecond);
    n += out.printf("%c%c", letter, d);
    return static_cast<std::size_t>(n);
}

std::size_t write_zone_column(Run& run, OutStream& out) {
    if (run.s.ZULU) return static_cast<std::size_t>(out.printf("GMT%c", run.s.delimiter));
    return static_cast<std::size_t>(out.printf("%3.3s%c", run.zone_name.c_str(), run.s.delimiter));
}

}  // namespace filarix
