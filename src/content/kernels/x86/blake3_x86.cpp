// BLAKE3 on several inputs at once in vector registers: none yet.
#include <cstdlib>

#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

bool blake3_sse41_available() {
    return false;
}

bool blake3_avx2_available() {
    return false;
}

void blake3_hash4_sse41(const std::uint8_t* const*, std::size_t, const std::uint32_t*,
                        std::uint64_t, bool, std::uint8_t, std::uint8_t, std::uint8_t,
                        std::uint8_t*) {
    std::abort();
}

void blake3_hash8_avx2(const std::uint8_t* const*, std::size_t, const std::uint32_t*, std::uint64_t,
                       bool, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t*) {
    std::abort();
}

}  // namespace filarix::kernels
