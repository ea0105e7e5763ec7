// The DISKLABL counter file: one label in the current directory, a prefix
// and a number, whose number goes up by one at each use.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// The label that follows a stored one: "ABC0099" gives "ABC00100", "41"
// gives "42". Only the first 11 characters of the stored text count.
std::string following_label(std::string_view stored);
// Reads DISKLABL (creating it with "1000" when it is missing), stores the
// next label in it and returns that label.
std::string next_disk_label(Run& run);

}  // namespace filarix
