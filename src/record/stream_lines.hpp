// The lines that list a file's or a directory's named streams.
#pragma once

#include <cstdint>
#include <string>

#include "content/digests.hpp"
#include "core/run.hpp"

namespace filarix {

// One line for entry `index` of run.stream_table, below the record of the
// entry just written; adds the stream to streams_found and bytes_found.
void write_stream_line(Run& run, DigestEngine& digests, const CurrentEntry& entry,
                       std::uint32_t index);
// One line per stream of a directory (its path, a trailing separator
// allowed), each counted in files_found and bytes_found; returns the
// number of lines.
int write_directory_stream_lines(Run& run, DigestEngine& digests, std::uint32_t count,
                                 const std::u16string& directory);

}  // namespace filarix
