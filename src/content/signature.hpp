// The file-type check against a table of file signatures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

void load_header_file(Run& run);
// Fills the category text and the two flags; the matching entry's number,
// or -1 (text), -2 (unknown), 0 (could not open).
int check_file_type(Run& run, std::u16string_view path, std::uint64_t size,
                    std::string& category_text, int& extension_mismatch, int& signature_matched);

}  // namespace filarix
