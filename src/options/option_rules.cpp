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
