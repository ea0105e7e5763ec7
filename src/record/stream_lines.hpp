// The lines that list a file's or a directory's named streams.
#pragma once

#include <cstdint>
#include <string>

#include "core/run.hpp"

namespace filarix {

// One line for stream entry i of the entry just recorded.
void write_stream_line(Run& run, const CurrentEntry& entry, std::uint32_t index);
// One line per stream of a directory (path without its trailing separator).
int write_directory_stream_lines(Run& run, std::uint32_t count, const std::u16string& directory);

}  // namespace filarix
