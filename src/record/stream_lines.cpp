#include "record/stream_lines.hpp"

namespace filarix {

// The stream lines arrive with the stream enumeration; until then no
// stream is ever found, so neither routine is reached with work to do.
void write_stream_line(Run&, const CurrentEntry&, std::uint32_t) {}

int write_directory_stream_lines(Run&, std::uint32_t, const std::u16string&) {
    return 0;
}

}  // namespace filarix
