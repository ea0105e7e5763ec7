// The account that owns a file.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Enables the privilege that lets the program read security descriptors.
bool setup_userid(platform::System& sys);
// The owner's account name, or "UNKNOWN".
std::string owner_of_path(platform::System& sys, std::u16string_view path);

}  // namespace filarix
