#include "record/time_fields.hpp"

#include <cstdio>

namespace filarix {

namespace {

void convert_one(platform::System& sys, platform::FileTicks raw, bool zulu, CalendarFields& out) {
    // A time the file system never set is shown as 00/00/1980 00:00.
    if (raw == 0) {
        out = CalendarFields{0, 0, 1980, 0, 0, 0, 0};
        return;
    }
    const auto t = zulu ? sys.to_utc(raw) : sys.to_local(raw);
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

int convert_times(platform::System& sys, const platform::FindData& data, TimesRecord& times,
                  bool zulu) {
    convert_one(sys, data.access, zulu, times.access);
    convert_one(sys, data.creation, zulu, times.creation);
    convert_one(sys, data.write, zulu, times.write);
    times.raw_creation = data.creation;
    times.raw_access = data.access;
    times.raw_write = data.write;
    return 0;
}

int times_of_path(platform::System& sys, std::u16string_view path, TimesRecord& times, bool zulu) {
    platform::FindData data;
    if (!sys.get_times(path, data.creation, data.access, data.write)) return 1;
    return convert_times(sys, data, times, zulu);
}

namespace {

// printf's "%0Nd" for the calendar's numbers, without its format parser:
// every record writes a time column or more.
char* put_number(char* at, int value, int digits) {
    if (value < 0) return at + std::snprintf(at, 16, "%0*d", digits, value);
    char reversed[12];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n < digits) reversed[n++] = '0';
    while (n > 0) *at++ = reversed[--n];
    return at;
}

}  // namespace

std::size_t write_time_column(Run& run, OutStream& out, const CalendarFields& f, char letter) {
    const char d = run.s.delimiter;
    char text[96];
    char* at = text;
    if (run.s.REVERSE) {
        at = put_number(at, f.year, 4);
        *at++ = '/';
        at = put_number(at, f.month, 2);
        *at++ = '/';
        at = put_number(at, f.day, 2);
    } else {
        at = put_number(at, f.month, 2);
        *at++ = '/';
        at = put_number(at, f.day, 2);
        *at++ = '/';
        at = put_number(at, f.year, 4);
    }
    *at++ = d;
    at = put_number(at, f.hour, 2);
    *at++ = ':';
    at = put_number(at, f.minute, 2);
    if (run.s.time_type == '3' || run.s.seconds) {
        *at++ = ':';
        at = put_number(at, f.second, 2);
        *at++ = ':';
        at = put_number(at, f.millisecond, 3);
    }
    *at++ = letter;
    *at++ = d;
    return out.put(std::string_view(text, static_cast<std::size_t>(at - text)));
}

std::size_t write_zone_column(Run& run, OutStream& out) {
    const char d = run.s.delimiter;
    if (run.s.ZULU) {
        const char text[] = {'G', 'M', 'T', d};
        return out.put(std::string_view(text, sizeof text));
    }
    // "%3.3s": at most three characters, right-aligned in three.
    const std::string_view zone = std::string_view(run.zone_name.c_str()).substr(0, 3);
    char text[4] = {' ', ' ', ' ', d};
    zone.copy(text + 3 - zone.size(), zone.size());
    return out.put(std::string_view(text, sizeof text));
}

}  // namespace filarix
