// XXH3's streaming update with the library's AVX2 code. The library picks
// its vector code when it is compiled, and the build targets plain x86-64,
// so this file compiles it once more for AVX2, chosen at run time.
#include <immintrin.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "content/kernels/kernels.hpp"

// The headers above stay outside the wider target, so nothing but the
// library's own static functions here is built for AVX2.
#pragma GCC push_options
#pragma GCC target("avx2,tune=haswell")
#define XXH_INLINE_ALL
#define XXH_VECTOR XXH_AVX2
#include <xxhash.h>

namespace filarix::kernels {

void xxh3_128_update_avx2(void* state, const void* data, std::size_t size) {
    XXH3_128bits_update(static_cast<XXH3_state_t*>(state), data, size);
}

}  // namespace filarix::kernels
#pragma GCC pop_options
