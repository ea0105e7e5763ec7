// One line of standard input or of a text file the program reads (the INI
// file), byte by byte, the same for every backend:
// the line end is dropped (a carriage return before it too), and false
// comes only when the input ended before anything was read.
#pragma once

#include <string>

namespace platform {

template <typename ReadByte>
bool read_line_with(ReadByte read_byte, std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
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
