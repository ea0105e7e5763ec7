// One line of standard input or of a text file the program reads (the INI
// file), byte by byte, the same for every backend:
// the line end is dropped (a carriage return before it too), and false
// comes only when the input ended before anything was read. A line longer
// than line_limit comes in pieces, so that an input with no line end (a
// device, a huge file) cannot take all memory.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

inline constexpr std::size_t line_limit = 65536;

template <typename ReadByte>
bool read_line_with(ReadByte read_byte, std::string& line) {
    line.clear();
    bool any = false;
    while (line.size() < line_limit) {
        const int c = read_byte();
        if (c < 0) break;
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

}  // namespace platform
