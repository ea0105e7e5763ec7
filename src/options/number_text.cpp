#include "options/number_text.hpp"

#include <limits>

namespace filarix {

namespace {

template <typename Char>
std::int64_t leading(std::basic_string_view<Char> text, bool* saturated = nullptr) {
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    std::size_t i = 0;
    while (i < text.size() && (text[i] == Char(' ') || text[i] == Char('\t'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == Char('-') || text[i] == Char('+')))
        negative = text[i++] == Char('-');
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= Char('0') && text[i] <= Char('9'); ++i) {
        const int digit = static_cast<int>(text[i] - Char('0'));
        const bool over = negative ? value < (min + digit) / 10 : value > (max - digit) / 10;
        if (over && saturated) *saturated = true;
        if (negative)
            value = over ? min : value * 10 - digit;
        else
            value = over ? max : value * 10 + digit;
    }
    return value;
}

std::int32_t held(std::int64_t n, std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>(n < low ? low : n > high ? high : n);
}

template <typename Char>
std::optional<std::int32_t> whole_positive(std::basic_string_view<Char> text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const Char c : text) {
        if (c < Char('0') || c > Char('9')) return std::nullopt;
        value = value * 10 + static_cast<int>(c - Char('0'));
        if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::int32_t> whole_positive_number(std::u16string_view text) {
    return whole_positive(text);
}

std::optional<std::int32_t> whole_positive_number(std::string_view text) {
    return whole_positive(text);
}

std::int64_t leading_number(std::u16string_view text) {
    return leading(text);
}

std::int64_t leading_number(std::string_view text) {
    return leading(text);
}

bool leading_number_fits(std::u16string_view text) {
    bool saturated = false;
    leading(text, &saturated);
    return !saturated;
}

std::int32_t leading_number_in(std::u16string_view text, std::int32_t low, std::int32_t high) {
    return held(leading(text), low, high);
}

std::int32_t leading_number_in(std::string_view text, std::int32_t low, std::int32_t high) {
    return held(leading(text), low, high);
}

}  // namespace filarix
