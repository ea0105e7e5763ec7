// Which of the instructions the x86 kernels use the processor has, asked
// once through cpuid.
#include <cpuid.h>

#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

namespace {

bool query_clmul() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

bool query_sha() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    if ((ecx & bit_SSE4_1) == 0 || (ecx & bit_SSSE3) == 0) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & (1u << 29)) != 0;
}

bool query_sse41() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (ecx & bit_SSE4_1) != 0 && (ecx & bit_SSSE3) != 0;
}

// AVX2 needs the operating system to save the wide registers too (OSXSAVE,
// and XCR0 with the SSE and AVX state bits).
bool query_avx2() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    unsigned xcr0_lo = 0, xcr0_hi = 0;
    __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
    if ((xcr0_lo & 6u) != 6u) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & bit_AVX2) != 0;
}

// AVX-512 needs the operating system to save the opmask and all of the ZMM
// registers as well: XCR0 bits 1, 2 and 5, 6, 7. Win64 keeps the stack only
// 16-byte aligned, but the MinGW GCC spills ZMM (and YMM) registers with
// unaligned moves (its object has no vmovdqa), so Windows may take the path
// too; the Wine suite's BLAKE3 of a 300 KB file runs through it.
bool query_avx512() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    if ((ecx & bit_OSXSAVE) == 0) return false;
    unsigned xcr0_lo = 0, xcr0_hi = 0;
    __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
    if ((xcr0_lo & 0xE6u) != 0xE6u) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const unsigned wanted = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);  // F, DQ, BW, VL
    return (ebx & wanted) == wanted;
}

}  // namespace

bool blake3_sse41_available() {
    static const bool available = query_sse41();
    return available;
}

bool blake3_avx2_available() {
    static const bool available = query_avx2();
    return available;
}

bool blake3_avx512_available() {
    static const bool available = query_avx512();
    return available;
}

bool lanes16_available() {
    return blake3_avx512_available();
}

bool lanes8_available() {
    return blake3_avx2_available();
}

bool xxh3_avx2_available() {
    return blake3_avx2_available();
}

bool crc32_fold_available() {
    static const bool available = query_clmul();
    return available;
}

bool sha_available() {
    static const bool available = query_sha();
    return available;
}

}  // namespace filarix::kernels
