// Numbers with a comma every three digits, for the totals.
#pragma once

#include <cstdint>
#include <string>

namespace filarix {

std::string format_thousands(std::uint32_t count);
std::string format_thousands64(std::int64_t value);

}  // namespace filarix
