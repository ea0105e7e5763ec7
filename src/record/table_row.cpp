#include "record/table_row.hpp"

#include <cstdio>

#include "record/utf8.hpp"

namespace filarix {

namespace {

// Length of the valid UTF-8 character at the start of `b`, 0 when none is.
std::size_t utf8_length(std::string_view b) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(b[i]); };
    const unsigned char c = at(0);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;   // overlong
        if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;   // overlong
        if (c == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (b.size() < n) return 0;
    if (at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF) return 0;
    return n;
}

std::int64_t minutes_of(const platform::CivilTime& t) {
    return platform::days_from_civil(t.year, t.month, t.day) * 1440 + t.hour * 60 + t.minute;
}

// Whether a CSV field must be quoted; a loop of its own, where find_first_of
// would call memchr once a byte.
bool needs_quotes(std::string_view text) {
    for (const char c : text)
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    return false;
}

void append_csv_field(std::string& out, std::string_view text) {
    if (!needs_quotes(text)) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

// Text that a row can hold as it is: valid UTF-8 without a NUL.
bool shown_exactly(std::string_view bytes) {
    // Most names are ASCII: their bytes are checked once, here.
    std::size_t ascii = 0;
    while (ascii < bytes.size() && bytes[ascii] != '\0' &&
           static_cast<unsigned char>(bytes[ascii]) < 0x80)
        ++ascii;
    if (ascii == bytes.size()) return true;
    bytes.remove_prefix(ascii);
    return bytes.find('\0') == std::string_view::npos && is_valid_utf8(bytes);
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = utf8_length(bytes.substr(i));
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string repaired_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = bytes[i] == '\0' ? 0 : utf8_length(bytes.substr(i));
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

void TableRow::text(Field f, std::string_view bytes) {
    Value& v = values_[static_cast<std::size_t>(f)];
    v.text = shown_exactly(bytes) ? std::string(bytes) : repaired_utf8(bytes);
    v.set = true;
    v.is_number = false;
}

void TableRow::name(Field f, const platform::PathSyntax& syntax, std::u16string_view name) {
    const std::string bytes = to_utf8_whole(syntax, name);
    text(f, bytes);
    if (f != Field::path || shown_exactly(bytes)) return;
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    text(Field::path_bytes, hex);
}

void TableRow::number(Field f, std::int64_t n) {
    Value& v = values_[static_cast<std::size_t>(f)];
    v.text = std::to_string(n);
    v.set = true;
    v.is_number = true;
}

void TableRow::number(Field f, std::uint64_t n) {
    Value& v = values_[static_cast<std::size_t>(f)];
    v.text = std::to_string(n);
    v.set = true;
    v.is_number = true;
}

std::string TableRow::render(const Run& run) const {
    const std::vector<Field> computed =
        run.layout.table_fields.empty() ? table_fields(run.s) : std::vector<Field>{};
    const std::vector<Field>& fields =
        run.layout.table_fields.empty() ? computed : run.layout.table_fields;
    std::string out;
    const bool json = run.s.table_format == table_jsonl;
    bool first = true;
    if (json) out += '{';
    for (const Field f : fields) {
        const Value& v = values_[static_cast<std::size_t>(f)];
        if (json) {
            if ((f == Field::path_bytes || f == Field::target) && !v.set) continue;
            if (!first) out += ',';
            append_json_string(out, field_name(f));
            out += ':';
            if (!v.set)
                out += "null";
            else if (v.is_number)
                out += v.text;
            else
                append_json_string(out, v.text);
        } else {
            if (!first) out += ',';
            if (v.set) append_csv_field(out, v.text);
        }
        first = false;
    }
    // The row goes out exactly as it is here: a CSV row ends in CR LF on
    // every system, while a line feed inside a name stays one; a JSON line
    // ends as the system's text lines do.
    if (json) out += '}';
    out += json && !run.sys.text_lines_crlf() ? "\n" : "\r\n";
    return out;
}

namespace {

// "%0Nd" of a value of at most N digits; printf's parser would cost more
// than the rest of a row.
char* put_digits(char* at, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
    return at + width;
}

}  // namespace

std::string iso_time(Run& run, platform::FileTicks raw, bool zulu) {
    if (raw == 0) return {};
    const auto utc = run.sys.to_utc(raw);
    if (!utc) return {};
    const auto t = zulu ? utc : run.sys.to_local(raw);
    if (!t) return {};
    // Out of the fixed widths' range: printf's way, with its sign and digits.
    if (t->year < 0 || t->year > 9999 || t->month < 0 || t->month > 99 || t->day < 0 ||
        t->day > 99 || t->hour < 0 || t->hour > 99 || t->minute < 0 || t->minute > 99 ||
        t->second < 0 || t->second > 99 || t->millisecond < 0 || t->millisecond > 999) {
        char text[96];
        int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t->year,
                              t->month, t->day, t->hour, t->minute, t->second, t->millisecond);
        if (zulu) {
            std::snprintf(text + n, sizeof text - std::size_t(n), "Z");
        } else {
            const std::int64_t offset = minutes_of(*t) - minutes_of(*utc);
            const std::int64_t a = offset < 0 ? -offset : offset;
            std::snprintf(text + n, sizeof text - std::size_t(n), "%c%02d:%02d",
                          offset < 0 ? '-' : '+', static_cast<int>(a / 60),
                          static_cast<int>(a % 60));
        }
        return text;
    }
    char text[32];
    char* at = put_digits(text, t->year, 4);
    *at++ = '-';
    at = put_digits(at, t->month, 2);
    *at++ = '-';
    at = put_digits(at, t->day, 2);
    *at++ = 'T';
    at = put_digits(at, t->hour, 2);
    *at++ = ':';
    at = put_digits(at, t->minute, 2);
    *at++ = ':';
    at = put_digits(at, t->second, 2);
    *at++ = '.';
    at = put_digits(at, t->millisecond, 3);
    if (zulu) {
        *at++ = 'Z';
    } else {
        const std::int64_t offset = minutes_of(*t) - minutes_of(*utc);
        const std::int64_t a = offset < 0 ? -offset : offset;
        if (a / 60 > 99)
            return std::string(text, at) + (offset < 0 ? "-" : "+") + std::to_string(a / 60) + ":" +
                   (a % 60 < 10 ? "0" : "") + std::to_string(a % 60);
        *at++ = offset < 0 ? '-' : '+';
        at = put_digits(at, static_cast<int>(a / 60), 2);
        *at++ = ':';
        at = put_digits(at, static_cast<int>(a % 60), 2);
    }
    return std::string(text, at);
}

std::string iso_local_time(int year, int month, int day, int hour, int minute, int second) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return text;
}

void write_table_header(Run& run, OutStream& out) {
    if (run.s.table_format == table_csv) out.put(csv_header_row(run.s, run.sys.text_lines_crlf()));
}

}  // namespace filarix
