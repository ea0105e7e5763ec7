// The named (alternate data) streams of a file or a directory.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Number of named streams of the path; they are kept for the stream lines.
std::uint32_t enumerate_streams(Run& run, std::u16string_view path);

}  // namespace filarix
