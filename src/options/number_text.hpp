// Numbers written in option values, INI lines, environment variables and
// small files: the leading decimal number of a text, never overflowing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace filarix {

// Blanks and one sign may stand in front; the digits end at the first
// other character; 0 when there are none. Values beyond the 64-bit range
// stay at its ends.
std::int64_t leading_number(std::u16string_view text);
std::int64_t leading_number(std::string_view text);
// False when the leading number is beyond a 64-bit integer and leading_number
// would give only its saturated value.
bool leading_number_fits(std::u16string_view text);
// The same held to [low, high].
std::int32_t leading_number_in(std::u16string_view text, std::int32_t low, std::int32_t high);
std::int32_t leading_number_in(std::string_view text, std::int32_t low, std::int32_t high);
// A count that must be given whole: digits alone, from 1 to the 32-bit
// maximum; nothing for anything else (0, a sign, a blank, a letter).
std::optional<std::int32_t> whole_positive_number(std::u16string_view text);
std::optional<std::int32_t> whole_positive_number(std::string_view text);

}  // namespace filarix
