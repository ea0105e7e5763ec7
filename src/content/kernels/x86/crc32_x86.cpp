// CRC-32 by carry-less multiplication folding, for x86 processors with
// PCLMULQDQ and SSE4.1; the table kernel takes what folding leaves.
#include <immintrin.h>

#include "content/crc32.hpp"
#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

namespace {

constexpr std::uint32_t reflected_poly = 0xEDB88320u;

// In the reflected representation bit i of a 32-bit word is the coefficient of
// x^(31-i); multiplying by x is a right shift, and x^32 reduces to the
// polynomial's lower terms. Returns x^n mod P in that representation.
constexpr std::uint32_t x_power_mod(unsigned n) {
    std::uint32_t v = 0x80000000u;  // x^0
    for (unsigned i = 0; i < n; ++i) v = (v & 1u) ? (v >> 1) ^ reflected_poly : v >> 1;
    return v;
}

// A 16-byte block loaded little-endian holds, in bit k, the coefficient of
// x^(127-k): its low quadword h carries the x^127..x^64 terms, its high
// quadword l the x^63..x^0 terms, both reflected. Moving the block D bits
// further along the message multiplies it by x^D = h*x^(64+D) + l*x^D. A
// carry-less product of two reflected 64-bit values lands one bit short of
// its reflected 128-bit place (it is 127 bits wide), so each constant carries
// one power of x less. The constants have degree < 32; as reflected 64-bit
// values they sit in the upper half.
constexpr std::uint64_t fold_constant(unsigned n) {
    return static_cast<std::uint64_t>(x_power_mod(n)) << 32;
}

constexpr unsigned lanes = 8;  // independent 16-byte accumulators
constexpr std::size_t stride = 16 * lanes;
constexpr std::uint64_t k_stride_hi = fold_constant(8 * stride + 63);
constexpr std::uint64_t k_stride_lo = fold_constant(8 * stride - 1);
constexpr std::uint64_t k_block_hi = fold_constant(128 + 63);
constexpr std::uint64_t k_block_lo = fold_constant(128 - 1);

#define FILARIX_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

FILARIX_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

FILARIX_CLMUL_TARGET inline __m128i load128(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

FILARIX_CLMUL_TARGET std::uint32_t clmul_kernel(std::uint32_t reg, const unsigned char* p,
                                                std::size_t size) {
    // The register enters as an XOR over the first four message bytes.
    __m128i x[lanes];
    for (unsigned i = 0; i < lanes; ++i) x[i] = load128(p + 16 * i);
    x[0] = _mm_xor_si128(x[0], _mm_cvtsi32_si128(static_cast<int>(reg)));
    p += stride;
    size -= stride;

    const __m128i k_stride =
        _mm_set_epi64x(static_cast<long long>(k_stride_lo), static_cast<long long>(k_stride_hi));
    while (size >= stride) {
        for (unsigned i = 0; i < lanes; ++i)
            x[i] = _mm_xor_si128(fold(x[i], k_stride), load128(p + 16 * i));
        p += stride;
        size -= stride;
    }

    const __m128i k_block =
        _mm_set_epi64x(static_cast<long long>(k_block_lo), static_cast<long long>(k_block_hi));
    __m128i acc = x[0];
    for (unsigned i = 1; i < lanes; ++i) acc = _mm_xor_si128(fold(acc, k_block), x[i]);
    while (size >= 16) {
        acc = _mm_xor_si128(fold(acc, k_block), load128(p));
        p += 16;
        size -= 16;
    }

    // acc is now congruent to the whole message so far, placed as its last
    // 16 bytes: running those bytes through a zero register finishes the job.
    alignas(16) unsigned char last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), acc);
    reg = crc32_update_portable(0, last, 16);
    return crc32_update_portable(reg, p, size);
}

}  // namespace

std::uint32_t crc32_fold(std::uint32_t reg, const void* data, std::size_t size) {
    if (size >= 2 * stride && crc32_fold_available())
        return clmul_kernel(reg, static_cast<const unsigned char*>(data), size);
    return crc32_update_portable(reg, data, size);
}

}  // namespace filarix::kernels
