// The table of file signatures read from a header file, and the file-type
// check against it. Pure code: the caller reads the header file and the
// start of each file, prints the messages and ends the run where asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/signature_entries.hpp"

namespace filarix {

// A header file may have this many lines, comments and short lines included.
inline constexpr std::uint32_t header_file_max_lines = 500;
inline constexpr std::size_t signature_table_max_entries = 512;
// The start of a file that the check reads and compares.
inline constexpr std::size_t signature_window_size = 65536;

struct HeaderFileLoad {
    SignatureTable table;
    // More lines than a header file may have: the caller prints the
    // messages and ends the process at once with status 3; the table is
    // empty.
    bool too_many_lines = false;
    std::uint32_t line_count = 0;
    // Texts for the standard error stream, in order, each as one print.
    std::vector<std::string> messages;
};

// Reads the header file's whole contents, lines ended by LF or CR LF.
HeaderFileLoad parse_header_file(std::string_view contents);

struct FileTypeCheck {
    int result = -2;  // the matching entry's number from 1, -1 text, -2 unknown
    std::string category = "UNK";
    // 1 without a match; with one, the case-blind comparison of the file's
    // extension with the entry's (-1, 0 or 1; 0 means equal).
    int extension_mismatch = 1;
    // Set the caller's flag when true; otherwise leave it as it was.
    bool signature_matched = false;
};

// The first matching entry for a file. extension: the file's extension
// without its dot; file_size: its size; window: the bytes read from its
// start (at most signature_window_size count); signature_check: 1 (-h, -H)
// or 2 (+h, +H), where 2 also tells text from unknown contents.
FileTypeCheck check_signatures(const SignatureTable& table, std::u16string_view extension,
                               std::uint64_t file_size, std::span<const unsigned char> window,
                               int signature_check);

}  // namespace filarix
