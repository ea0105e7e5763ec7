// The labels of the DISKLABL counter: a prefix and a number, whose number
// goes up by one at each use. The driver keeps the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace filarix {

// The longest label the counter hands out: the width of the volume column
// that shows it in every record, so that no record shows it cut.
inline constexpr std::size_t disk_label_limit = 11;

// The label that follows a stored one: "ABC0099" gives "ABC00100", "41"
// gives "42". A label that would outgrow the limit gives up zeros of its
// prefix's padding, one for each extra digit ("A0000000009" gives
// "A0000000010"); one that still does not fit comes back longer than the
// limit, for the caller to refuse.
std::string following_label(std::string_view stored);

}  // namespace filarix
