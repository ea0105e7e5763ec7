// The members of ZIP archives, listed below the archive's record.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

std::uint32_t list_zip_members(Run& run, std::u16string_view path, std::uint64_t size);

}  // namespace filarix
