// The named (alternate data) streams of a file or a directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Number of named streams of the path, which are left in run.stream_table
// for the stream lines. None where the first start path's volume cannot
// carry streams. A listing that breaks off is told once per run on the
// error stream, and the run goes on with what was found.
std::uint32_t enumerate_streams(Run& run, std::u16string_view path);

// A table name ":name:$DATA" as a stream line shows it: ":name".
std::u16string shown_stream_name(std::u16string_view table_name);

}  // namespace filarix
