#include "content/signature.hpp"

namespace filarix {

// The signature table comes with the -h/-H options; until then nothing is
// loaded and every file is of unknown type.
void load_header_file(Run&) {}

int check_file_type(Run&, std::u16string_view, std::uint64_t, std::string& category_text,
                    int& extension_mismatch, int&) {
    extension_mismatch = 1;
    category_text = "UNK";
    return -2;
}

}  // namespace filarix
