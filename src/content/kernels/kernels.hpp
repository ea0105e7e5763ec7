// The digest kernels that use a processor's own instructions. The build
// compiles the set for the target's instruction set (kernels/x86/), or the
// portable stand-ins (kernels/portable/) that offer none; whether the
// processor at hand has the instructions is asked at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace filarix::kernels {

// Whether the processor has PCLMULQDQ and SSE4.1 (asked once, then remembered).
bool crc32_fold_available();
// A raw CRC-32 register update by carry-less multiplication folding; the
// table kernel takes short inputs, tails, and everything when the processor
// lacks the instructions.
std::uint32_t crc32_fold(std::uint32_t reg, const void* data, std::size_t size);

// Whether the processor has the SHA extensions plus SSSE3 and SSE4.1 (asked
// once, then remembered); they bring SHA-1 and SHA-256 together.
bool sha_available();
// Compress whole 64-byte blocks into the state; called only when
// sha_available() says yes.
void sha1_compress(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks);
void sha256_compress(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks);
// The same for two messages at once: one message's rounds wait on each
// other, so the other's fill the gaps (nearly twice the bytes a second).
void sha256_compress_two(std::uint32_t* state_a, const std::uint8_t* a, std::uint32_t* state_b,
                         const std::uint8_t* b, std::size_t blocks);

// BLAKE3's compression of one 64-byte block into a chaining value, in
// plain C++ on every target: the one-chunk path, and what the vector
// kernels leave over.
void blake3_compress(std::uint32_t cv[8], const std::uint8_t block[64], std::uint64_t counter,
                     std::uint32_t block_len, std::uint32_t flags);
// Whether the processor has SSE4.1 (with SSSE3), AVX2, and AVX-512 (F, VL,
// BW, DQ), the wide ones with the operating system saving their registers
// (asked once, then remembered).
bool blake3_sse41_available();
bool blake3_avx2_available();
bool blake3_avx512_available();
// Hash 4 (SSE4.1), 8 (AVX2) or 16 (AVX-512) inputs at once, each `blocks` whole blocks
// chained from `key`: input i at counter + i (or counter, when
// `add_lane` is false), the first block with flags | first_flags, the last
// with flags | last_flags. Input i's chaining value goes to out + 32 i.
// Called only when the matching question above says yes.
void blake3_hash4_sse41(const std::uint8_t* const* inputs, std::size_t blocks,
                        const std::uint32_t key[8], std::uint64_t counter, bool add_lane,
                        std::uint8_t flags, std::uint8_t first_flags, std::uint8_t last_flags,
                        std::uint8_t* out);
void blake3_hash8_avx2(const std::uint8_t* const* inputs, std::size_t blocks,
                       const std::uint32_t key[8], std::uint64_t counter, bool add_lane,
                       std::uint8_t flags, std::uint8_t first_flags, std::uint8_t last_flags,
                       std::uint8_t* out);
void blake3_hash16_avx512(const std::uint8_t* const* inputs, std::size_t blocks,
                          const std::uint32_t key[8], std::uint64_t counter, bool add_lane,
                          std::uint8_t flags, std::uint8_t first_flags, std::uint8_t last_flags,
                          std::uint8_t* out);

// Whether digests may run in 16 lanes (AVX-512) or 8 (AVX2), the
// operating system saving the registers (asked once, then remembered).
bool lanes16_available();
bool lanes8_available();
// One 64-byte block of each of 16 (8) messages: `state` holds a, b, c and
// d of every lane in turn (lane i's a at state[i]), `words` the blocks'
// sixteen words in turn (word w of lane i at words[lanes * w + i]).
// Called only when the matching question above says yes.
void md5_compress16_avx512(std::uint32_t* state, const std::uint32_t* words);
void md5_compress8_avx2(std::uint32_t* state, const std::uint32_t* words);
// The same for SHA-1 in 16 lanes, a to e in `state`, the words big-endian
// as read; called only when lanes16_available() says yes.
void sha1_compress16_avx512(std::uint32_t* state, const std::uint32_t* words);
// MD5 and SHA-1 of the same 16 messages at once, their steps side by side:
// `state` holds MD5's a to d, then SHA-1's a to e; `words` are as MD5
// reads them, the last blocks (bit i of `last` for lane i) padded with
// MD5's bit length. Called only when lanes16_available() says yes.
void md5_sha1_compress16_avx512(std::uint32_t* state, const std::uint32_t* words,
                                std::uint16_t last);

// Whether the processor has AVX2 with the operating system saving its
// registers, for XXH3's stripes (asked once, then remembered).
bool xxh3_avx2_available();
// XXH3-128's streaming update over the library's own state (an
// XXH3_state_t), with the library's AVX2 code; called only when the
// question above says yes. The digits are those of the plain build.
void xxh3_128_update_avx2(void* state, const void* data, std::size_t size);

}  // namespace filarix::kernels
