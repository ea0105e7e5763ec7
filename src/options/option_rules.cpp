#include "options/option_rules.hpp"

#include "core/run_settings.hpp"
#include "options/number_text.hpp"

namespace filarix {

char delimiter_byte(char16_t c) {
    return static_cast<char>(c & 0xFF);
}

char delimiter_from_text(std::u16string_view value) {
    if (value.size() == 1) return delimiter_byte(value.front());
    return static_cast<char>(leading_number(value) & 0xFF);
}

bool delimiter_allowed(char delimiter) {
    return delimiter != '\0';
}

std::int32_t column_width(std::u16string_view text) {
    return leading_number_in(text, 0, column_limit);
}

std::int32_t column_width(std::string_view text) {
    return leading_number_in(text, 0, column_limit);
}

namespace {

bool space(char16_t c) {
    return c == u' ' || c == u'\t';
}

char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

bool starts_with_lower(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lower(text[i]) != prefix[i]) return false;
    return true;
}

}  // namespace

DatabaseKind database_kind_of(std::u16string_view value) {
    if (starts_with_lower(value, u"postgresql://") || starts_with_lower(value, u"postgres://"))
        return DatabaseKind::postgresql;
    // A connection string begins with one of libpq's keywords and "=": a
    // file name rarely does, and one that must can be written as ./name.
    static constexpr std::u16string_view keywords[] = {
        u"host",     u"hostaddr",         u"port",    u"dbname",          u"user",
        u"password", u"passfile",         u"service", u"connect_timeout", u"sslmode",
        u"options",  u"application_name",
    };
    std::size_t at = 0;
    while (at < value.size() && space(value[at])) ++at;
    std::size_t end = at;
    while (end < value.size() && !space(value[end]) && value[end] != u'=') ++end;
    std::size_t equals = end;
    while (equals < value.size() && space(value[equals])) ++equals;
    if (equals < value.size() && value[equals] == u'=') {
        const std::u16string_view word = value.substr(at, end - at);
        for (const std::u16string_view k : keywords)
            if (word == k) return DatabaseKind::postgresql;
    }
    return DatabaseKind::sqlite_file;
}

bool exclude_list_full(std::size_t masks) {
    return masks >= exclude_capacity;
}

void report_exclude_list_full(OutStream& out) {
    out.put("\nYou have too many -eXclude file types.\n");
    out.printf("Max exclude types is %d\n", static_cast<int>(exclude_capacity));
}

std::size_t comment_width(std::u16string_view text) {
    return static_cast<std::size_t>(leading_number_in(text, 0, 1000000));
}

}  // namespace filarix
