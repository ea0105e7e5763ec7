// The table of file signatures a header file gives: loaded once with its
// option and kept for the run, read by the file-type check of each file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace filarix {

struct SignatureEntry {
    std::string name{};       // free text, never shown in a record
    std::string extension{};  // what a matching file should be named; its category
    std::int32_t offset = 0;
    std::string signature{};  // the bytes to compare; empty ends the table
};

struct SignatureTable {
    std::vector<SignatureEntry> entries;  // in file order
};

}  // namespace filarix
