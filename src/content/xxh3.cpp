#include "content/xxh3.hpp"

#include <cstring>
#include <new>

#include "content/kernels/kernels.hpp"

// The whole library compiles into this file: one header serves the Linux
// and the Windows build, and no library is linked.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace filarix {

static_assert(sizeof(XXH3_state_t) <= Xxh3_128::state_size);
static_assert(alignof(XXH3_state_t) <= 64);

namespace {

XXH3_state_t* state_of(unsigned char* bytes) {
    return std::launder(reinterpret_cast<XXH3_state_t*>(bytes));
}

}  // namespace

bool Xxh3_128::available(Path path) {
    return path == Path::plain || kernels::xxh3_avx2_available();
}

Xxh3_128::Xxh3_128(bool allow_hardware)
    : Xxh3_128(allow_hardware && available(Path::avx2) ? Path::avx2 : Path::plain) {}

Xxh3_128::Xxh3_128(Path path) : path_(path) {
    reset();
}

void Xxh3_128::reset() {
    // Reset sets every field the digest reads; the state owns no memory.
    XXH3_INITSTATE(state_of(state_));
    XXH3_128bits_reset(state_of(state_));
}

void Xxh3_128::update(const void* data, std::size_t size) {
    if (path_ == Path::avx2)
        kernels::xxh3_128_update_avx2(state_of(state_), data, size);
    else
        XXH3_128bits_update(state_of(state_), data, size);
}

std::array<std::uint8_t, 16> Xxh3_128::finish() {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state_of(state_)));
    reset();
    std::array<std::uint8_t, 16> out;
    std::memcpy(out.data(), canonical.digest, out.size());
    return out;
}

}  // namespace filarix
