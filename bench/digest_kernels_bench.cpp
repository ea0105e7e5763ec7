// Throughput of the digest kernels on a 1 MiB buffer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "content/crc32.hpp"
#include "content/md5.hpp"
#include "content/sha1.hpp"
#include "content/sha256.hpp"
#include "content/sha3.hpp"
#include "content/sha512.hpp"

using namespace filarix;

namespace {

const std::vector<std::uint8_t>& buffer() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> b(1 << 20);
        std::mt19937 rng(1);
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        return b;
    }();
    return data;
}

void finish_bench(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffer().size()));
}

void BM_Crc32Portable(benchmark::State& state) {
    const auto& b = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32_update_portable(0xFFFFFFFFu, b.data(), b.size()));
    finish_bench(state);
}

void BM_Crc32Clmul(benchmark::State& state) {
    if (!crc32_clmul_available()) {
        state.SkipWithError("no PCLMULQDQ/SSE4.1");
        return;
    }
    const auto& b = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32_update_clmul(0xFFFFFFFFu, b.data(), b.size()));
    finish_bench(state);
}

void BM_Md5(benchmark::State& state) {
    const auto& b = buffer();
    Md5 md5;
    for (auto _ : state) {
        md5.update(b.data(), b.size());
        benchmark::DoNotOptimize(md5.finish());
    }
    finish_bench(state);
}

void sha1_bench(benchmark::State& state, bool hardware) {
    const auto& b = buffer();
    Sha1 sha1(hardware);
    if (sha1.uses_hardware() != hardware) {
        state.SkipWithError("no SHA instructions");
        return;
    }
    for (auto _ : state) {
        sha1.update(b.data(), b.size());
        benchmark::DoNotOptimize(sha1.finish());
    }
    finish_bench(state);
}

void BM_Sha1Portable(benchmark::State& state) {
    sha1_bench(state, false);
}
void BM_Sha1Hardware(benchmark::State& state) {
    sha1_bench(state, true);
}

void sha256_bench(benchmark::State& state, bool hardware) {
    const auto& b = buffer();
    Sha256 sha256(hardware);
    if (sha256.uses_hardware() != hardware) {
        state.SkipWithError("no SHA instructions");
        return;
    }
    for (auto _ : state) {
        sha256.update(b.data(), b.size());
        benchmark::DoNotOptimize(sha256.finish());
    }
    finish_bench(state);
}

void BM_Sha256Portable(benchmark::State& state) {
    sha256_bench(state, false);
}
void BM_Sha256Hardware(benchmark::State& state) {
    sha256_bench(state, true);
}

void BM_Sha512(benchmark::State& state) {
    const auto& b = buffer();
    Sha512 sha512;
    for (auto _ : state) {
        sha512.update(b.data(), b.size());
        benchmark::DoNotOptimize(sha512.finish());
    }
    finish_bench(state);
}

void BM_Sha3_256(benchmark::State& state) {
    const auto& b = buffer();
    Sha3_256 sha3;
    for (auto _ : state) {
        sha3.update(b.data(), b.size());
        benchmark::DoNotOptimize(sha3.finish());
    }
    finish_bench(state);
}

}  // namespace

BENCHMARK(BM_Crc32Portable);
BENCHMARK(BM_Crc32Clmul);
BENCHMARK(BM_Md5);
BENCHMARK(BM_Sha1Portable);
BENCHMARK(BM_Sha1Hardware);
BENCHMARK(BM_Sha256Portable);
BENCHMARK(BM_Sha256Hardware);
BENCHMARK(BM_Sha512);
BENCHMARK(BM_Sha3_256);
