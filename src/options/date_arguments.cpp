#include "options/date_arguments.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace filarix {

namespace {

// The character at a fixed position, NUL past the end (as in a C string).
char at(std::string_view text, std::size_t i) {
    return i < text.size() ? text[i] : '\0';
}

bool digit_at(std::string_view text, std::size_t i) {
    const char c = at(text, i);
    return c >= '0' && c <= '9';
}

// The leading decimal number of a fixed field, read the way atoi reads a
// copy of it: blanks skipped, an optional sign, digits up to the first
// other character; 0 when there are none.
int field(std::string_view text, std::size_t pos, std::size_t length) {
    if (pos >= text.size()) return 0;
    const std::string_view f = text.substr(pos, length);
    std::size_t i = 0;
    while (i < f.size() && (f[i] == ' ' || f[i] == '\t')) ++i;
    bool negative = false;
    if (i < f.size() && (f[i] == '-' || f[i] == '+')) negative = f[i++] == '-';
    int value = 0;
    for (; i < f.size() && f[i] >= '0' && f[i] <= '9'; ++i) value = value * 10 + (f[i] - '0');
    return negative ? -value : value;
}

// A two-digit year 00 to 09 falls in the 2000s, 10 to 99 in the 1900s; a
// stored date and the age in days of the same text must name the same day.
int full_year(int year) {
    if (year >= 0 && year <= 9) return year + 2000;
    if (year < 1900) return year + 1900;
    return year;
}

// Reads a decimal number as sscanf's %d does; false when none is there.
bool scan_number(std::string_view text, std::size_t& i, int& value, int& digits) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    bool negative = false;
    std::size_t j = i;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) negative = text[j++] == '-';
    std::int64_t v = 0;
    digits = 0;
    for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j, ++digits)
        if (v < 100000000) v = v * 10 + (text[j] - '0');
    if (digits == 0) return false;
    value = static_cast<int>(negative ? -v : v);
    i = j;
    return true;
}

std::string ascii_narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char16_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

bool has_any(std::string_view text, std::string_view set) {
    return text.find_first_of(set) != std::string_view::npos;
}

bool has(std::string_view text, char c) {
    return text.find(c) != std::string_view::npos;
}

// The time a value tests: creation before access before write.
char kind_of(std::string_view value) {
    if (has(value, 'c')) return 'c';
    if (has(value, 'a')) return 'a';
    return 'w';
}

// Up to `width` characters read as one number (sscanf "%Nd").
bool scan_width(std::string_view text, std::size_t& i, std::size_t width, int& value) {
    std::size_t j = i;
    while (j < text.size() && text[j] == ' ') ++j;
    const std::size_t end = std::min(text.size(), j + width);
    bool negative = false;
    if (j < end && (text[j] == '-' || text[j] == '+')) negative = text[j++] == '-';
    int v = 0;
    std::size_t digits = 0;
    for (; j < end && text[j] >= '0' && text[j] <= '9'; ++j, ++digits) v = v * 10 + (text[j] - '0');
    if (digits == 0) return false;
    value = negative ? -v : v;
    i = j;
    return true;
}

[[noreturn]] void refuse_day_count(Run& run, AgeSide side, AgeSource source) {
    run.std_out.printf("\n It appears your syntact for aging is incorrect\n%c", 7);
    run.std_out.put(" You probably forgot to include seperators 2023-01-01\n");
    if (source == AgeSource::long_option && side == AgeSide::older)
        run.std_out.put(
            " For this syntax: --older=20230101 you need dividers  --older=2023-01-01\n");
    else
        run.std_out.put(
            " For this syntax: --younger=20230101 you need dividers  --younger=2023-01-01\n");
    end_run(exit_code::illegal_option);
}

}  // namespace

DateValue read_date(std::string_view text) {
    const bool separated = !digit_at(text, 2) || !digit_at(text, 4);
    const int first_two = field(text, 0, 2);
    int code = 0;
    if (separated) {
        const int length_class = digit_at(text, 8) && digit_at(text, 9) ? 10 : 8;
        if (length_class == 10)
            code = first_two < 14 ? 12 : 14;
        else
            code = first_two < 13 ? 8 : 10;
    } else {
        int length_class = 0;
        if (digit_at(text, 5) && digit_at(text, 6) && digit_at(text, 7)) {
            length_class = 8;
        } else if (digit_at(text, 5) && !digit_at(text, 6)) {
            length_class = 6;
        } else {
            for (std::size_t i = 5; i <= 7 && digit_at(text, i - 1); ++i)
                if (at(text, i) == ' ') length_class = 6;
        }
        if (length_class == 6)
            code = first_two < 13 ? 0 : 2;
        else if (length_class == 8)
            code = first_two < 14 ? 4 : first_two <= 20 ? 6 : 2;
    }

    DateValue d;
    switch (code) {
        case 0:
            d = {field(text, 0, 2), field(text, 2, 2), field(text, 4, 2)};
            break;
        case 2:
            d = {field(text, 2, 2), field(text, 4, 2), field(text, 0, 2)};
            break;
        case 4:
            d = {field(text, 0, 2), field(text, 2, 2), field(text, 4, 4)};
            break;
        case 6:
            d = {field(text, 4, 2), field(text, 6, 2), field(text, 0, 4)};
            break;
        case 8:
            d = {field(text, 0, 2), field(text, 3, 2), field(text, 6, 2)};
            break;
        case 10:
            d = {field(text, 3, 2), field(text, 6, 2), field(text, 0, 2)};
            break;
        case 12:
            d = {field(text, 0, 2), field(text, 3, 2), field(text, 6, 4)};
            break;
        default:
            d = {field(text, 5, 2), field(text, 8, 2), field(text, 0, 4)};
            break;
    }
    d.year = full_year(d.year);
    return d;
}

DateValue age_date(std::string_view text) {
    int numbers[3] = {0, 0, 0};
    int first_digits = 0;
    std::size_t i = 0;
    for (int n = 0; n < 3; ++n) {
        int digits = 0;
        if (!scan_number(text, i, numbers[n], digits)) break;
        if (n == 0) first_digits = digits;
        if (n < 2) {
            if (i >= text.size()) break;
            ++i;  // the separator, whatever it is
        }
    }
    DateValue day;
    if (first_digits == 4) {
        day.year = numbers[0];
        day.month = numbers[1];
        day.day = numbers[2];
    } else {
        day.month = numbers[0];
        day.day = numbers[1];
        int year = numbers[2];
        if (year >= 0 && year <= 9)
            year += 2000;
        else if (year >= 10 && year <= 99)
            year += 1900;
        day.year = year;
    }
    return day;
}

std::u16string compact_date(std::u16string_view value) {
    if (value.find_first_of(u"-/\\") != std::u16string_view::npos) return std::u16string(value);
    std::string digits = ascii_narrow(value);
    char16_t letter = 0;
    if (!value.empty() && value.back() > u'9') {
        letter = value.back();
        digits.pop_back();
    }
    int year = 2000, month = 12, day = 30;
    std::size_t i = 0;
    if (scan_width(digits, i, 4, year) && scan_width(digits, i, 2, month))
        scan_width(digits, i, 2, day);
    if (year < 1301) {
        year = 2000, month = 12, day = 30;
        i = 0;
        if (scan_width(digits, i, 2, month) && scan_width(digits, i, 2, day))
            scan_width(digits, i, 4, year);
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    std::u16string out = platform::widen(text);
    if (letter) out.push_back(letter);
    return out;
}

void record_kind_letters(Run& run, std::string_view text, AgeSide side) {
    char found = 0;
    for (const char c : text) {
        char kind = 0;
        switch (c) {
            case 'a':
            case 'A':
                kind = 'a';
                break;
            case 'c':
            case 'C':
                kind = 'c';
                break;
            case 'w':
            case 'W':
                kind = side == AgeSide::older ? 'm' : 'w';
                break;
            case 'm':
            case 'M':
                if (side == AgeSide::older) kind = 'm';
                break;
            default:
                break;
        }
        if (kind) found = kind;
    }
    if (found) run.s.date_kinds[side == AgeSide::older ? 2 : 1] = found;
}

void read_age_value(Run& run, std::u16string_view value, AgeSide side, AgeSource source) {
    const bool older = side == AgeSide::older;
    run.s.aging = 1;
    (older ? run.s.OLDER : run.s.NEWER) = 1;

    std::u16string wide(value);
    if (source == AgeSource::long_option && (wide.size() == 8 || wide.size() == 9))
        wide = compact_date(wide);
    std::string text = narrow_text(run, wide);

    if (!has_any(text, "-/\\")) {
        // The leading number, held wide enough that no count of digits can
        // slip under the limit by overflowing.
        std::size_t i = text.find_first_not_of(" \t");
        if (i == std::string::npos) i = text.size();
        if (i < text.size() && text[i] == '+') ++i;
        std::int64_t whole = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            whole = std::min<std::int64_t>(whole * 10 + (text[i] - '0'), INT32_MAX);
        if (source != AgeSource::ini_file && whole > 190000) refuse_day_count(run, side, source);
        const int days = static_cast<int>(whole);
        const char kind = kind_of(text);
        run.s.date_kinds[0] = kind;
        if (older) {
            run.s.older_days = days;
            run.s.older_kind = kind;
        } else {
            run.s.newer_days = days;
            run.s.date_kinds[3] = kind;
        }
        return;
    }

    // A calendar date; an "m" also asks for the last-write time.
    const char kind = kind_of(text);
    const bool letter_given = has_any(text, "cawm");
    run.s.date_kinds[0] = kind;
    if (older) {
        run.s.older_kind = kind;
        run.s.date_kinds[2] = kind;
    } else {
        run.s.date_kinds[3] = kind;
        run.s.date_kinds[1] = kind;
    }
    if (letter_given) text.pop_back();
    record_kind_letters(run, text, side);

    ask_action(run, AgeFromDateAction{age_date(text), older});
    const DateValue date = read_date(text);
    if (older) {
        run.s.older_date = date;
    } else {
        run.s.newer_date = date;
    }
}

}  // namespace filarix
