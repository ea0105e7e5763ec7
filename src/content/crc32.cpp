#include "content/crc32.hpp"

#include <array>
#include <bit>
#include <cstring>

#include "content/kernels/kernels.hpp"

namespace filarix {

static_assert(std::endian::native == std::endian::little, "the word loads assume little-endian");

namespace {

constexpr std::uint32_t reflected_poly = 0xEDB88320u;

// tables[0] is the classic one-byte table; tables[k][b] is the register
// contribution of byte b followed by k zero bytes.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 16>;

constexpr CrcTables make_tables() {
    CrcTables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t r = b;
        for (int i = 0; i < 8; ++i) r = (r & 1u) ? (r >> 1) ^ reflected_poly : r >> 1;
        t[0][b] = r;
    }
    for (std::size_t k = 1; k < 16; ++k)
        for (std::size_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
    return t;
}

constexpr CrcTables tables = make_tables();

inline std::uint32_t load32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

std::uint32_t crc32_update_portable(std::uint32_t reg, const void* data, std::size_t size) {
    auto p = static_cast<const unsigned char*>(data);
    while (size >= 16) {
        const std::uint32_t a = load32(p) ^ reg;
        const std::uint32_t b = load32(p + 4);
        const std::uint32_t c = load32(p + 8);
        const std::uint32_t d = load32(p + 12);
        reg = tables[15][a & 0xFF] ^ tables[14][(a >> 8) & 0xFF] ^ tables[13][(a >> 16) & 0xFF] ^
              tables[12][a >> 24] ^ tables[11][b & 0xFF] ^ tables[10][(b >> 8) & 0xFF] ^
              tables[9][(b >> 16) & 0xFF] ^ tables[8][b >> 24] ^ tables[7][c & 0xFF] ^
              tables[6][(c >> 8) & 0xFF] ^ tables[5][(c >> 16) & 0xFF] ^ tables[4][c >> 24] ^
              tables[3][d & 0xFF] ^ tables[2][(d >> 8) & 0xFF] ^ tables[1][(d >> 16) & 0xFF] ^
              tables[0][d >> 24];
        p += 16;
        size -= 16;
    }
    while (size--) reg = (reg >> 8) ^ tables[0][(reg ^ *p++) & 0xFF];
    return reg;
}

bool crc32_clmul_available() {
    return kernels::crc32_fold_available();
}

std::uint32_t crc32_update_clmul(std::uint32_t reg, const void* data, std::size_t size) {
    return kernels::crc32_fold(reg, data, size);
}

void Crc32::update(const void* data, std::size_t size, bool hardware) {
    reg_ =
        hardware ? crc32_update_clmul(reg_, data, size) : crc32_update_portable(reg_, data, size);
}

}  // namespace filarix
