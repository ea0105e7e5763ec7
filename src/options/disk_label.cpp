#include "options/disk_label.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "options/number_text.hpp"

namespace filarix {

namespace {

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The largest number has no follower: its "next" is one digit longer than
// any label may be, so it is refused rather than repeated.
std::string plus_one(std::int64_t number) {
    if (number == std::numeric_limits<std::int64_t>::max()) return "9223372036854775808";
    return std::to_string(number + 1);
}

}  // namespace

std::string following_label(std::string_view stored) {
    if (stored.empty() || !is_letter(stored[0])) return plus_one(leading_number(stored));
    // The prefix keeps the letters and the zeros up to the first other digit.
    std::size_t split = 0;
    while (split < stored.size() && !(is_digit(stored[split]) && stored[split] != '0')) ++split;
    std::string prefix(stored.substr(0, split));
    const std::string number = plus_one(leading_number(stored.substr(split)));
    // The padding zeros make room for a longer number, so the label keeps
    // its width instead of being cut to a label already handed out.
    const std::size_t length = prefix.size() + number.size();
    if (length > disk_label_limit) {
        const std::size_t zeros = prefix.size() - (prefix.find_last_not_of('0') + 1);
        prefix.resize(prefix.size() - std::min(zeros, length - disk_label_limit));
    }
    return prefix + number;
}

}  // namespace filarix
