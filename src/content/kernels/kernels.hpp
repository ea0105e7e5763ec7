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

}  // namespace filarix::kernels
