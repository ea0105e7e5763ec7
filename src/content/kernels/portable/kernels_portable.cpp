// The kernels of a target without an instruction set of its own here: none
// is offered, and the CRC-32 update is the table kernel.
#include <cstdlib>

#include "content/crc32.hpp"
#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

bool crc32_fold_available() {
    return false;
}

std::uint32_t crc32_fold(std::uint32_t reg, const void* data, std::size_t size) {
    return crc32_update_portable(reg, data, size);
}

bool sha_available() {
    return false;
}

// Never chosen: sha_available() says no.
void sha1_compress(std::uint32_t*, const std::uint8_t*, std::size_t) {
    std::abort();
}

void sha256_compress(std::uint32_t*, const std::uint8_t*, std::size_t) {
    std::abort();
}

void sha256_compress_two(std::uint32_t*, const std::uint8_t*, std::uint32_t*, const std::uint8_t*,
                         std::size_t) {
    std::abort();
}

bool blake3_sse41_available() {
    return false;
}

bool blake3_avx2_available() {
    return false;
}

bool blake3_avx512_available() {
    return false;
}

// Never chosen: the questions above say no.
void blake3_hash4_sse41(const std::uint8_t* const*, std::size_t, const std::uint32_t*,
                        std::uint64_t, bool, std::uint8_t, std::uint8_t, std::uint8_t,
                        std::uint8_t*) {
    std::abort();
}

void blake3_hash8_avx2(const std::uint8_t* const*, std::size_t, const std::uint32_t*, std::uint64_t,
                       bool, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t*) {
    std::abort();
}

void blake3_hash16_avx512(const std::uint8_t* const*, std::size_t, const std::uint32_t*,
                          std::uint64_t, bool, std::uint8_t, std::uint8_t, std::uint8_t,
                          std::uint8_t*) {
    std::abort();
}

bool lanes16_available() {
    return false;
}

bool lanes8_available() {
    return false;
}

// Never chosen: the questions above say no.
void md5_compress16_avx512(std::uint32_t*, const std::uint32_t*) {
    std::abort();
}

void md5_compress8_avx2(std::uint32_t*, const std::uint32_t*) {
    std::abort();
}

void sha1_compress16_avx512(std::uint32_t*, const std::uint32_t*) {
    std::abort();
}

void md5_sha1_compress16_avx512(std::uint32_t*, const std::uint32_t*, std::uint16_t) {
    std::abort();
}

bool xxh3_avx2_available() {
    return false;
}

void xxh3_128_update_avx2(void*, const void*, std::size_t) {
    std::abort();
}

}  // namespace filarix::kernels
