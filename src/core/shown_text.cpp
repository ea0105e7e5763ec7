#include "core/shown_text.hpp"

namespace filarix {

void mask_controls(std::string& text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
}

void mask_controls(std::u16string& text) {
    for (char16_t& c : text)
        if (c < 0x20 || c == 0x7F) c = u'?';
}

std::string shown_name(platform::Text& text, std::u16string_view name) {
    std::string narrow = text.narrow(name);
    mask_controls(narrow);
    return narrow;
}

}  // namespace filarix
