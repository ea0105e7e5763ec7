// The DISKLABL counter file: one label in the current directory, a prefix
// and a number, whose number goes up by one at each use.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// The longest label the counter file holds and the listing shows.
inline constexpr std::size_t disk_label_limit = 12;

// The label that follows a stored one: "ABC0099" gives "ABC00100", "41"
// gives "42". Only the first disk_label_limit characters of the stored
// text count.
std::string following_label(std::string_view stored);
// Reads DISKLABL (creating it with "1000" when it is missing), stores the
// next label in it and returns that label.
std::string next_disk_label(Run& run);

}  // namespace filarix
