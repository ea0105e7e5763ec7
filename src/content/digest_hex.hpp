// Upper-case hexadecimal text of digest bytes, as the record shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace filarix {

inline std::string to_upper_hex(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(size * 2, '0');
    for (std::size_t i = 0; i < size; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace filarix
