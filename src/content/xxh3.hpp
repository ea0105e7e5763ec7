// XXH3-128: a quick fingerprint of a file's bytes, not a security digest
// (anyone can make two files that share one). Its digits are xxhsum -H2's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace filarix {

class Xxh3_128 {
public:
    // The library's plain build, or its AVX2 build for the long inputs'
    // stripes; both give the same digits.
    enum class Path : std::uint8_t { plain, avx2 };
    // The fastest path the processor has, or the plain one.
    explicit Xxh3_128(bool allow_hardware = true);
    // Exactly this path (for tests and benchmarks); it must be available.
    explicit Xxh3_128(Path path);

    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // The canonical (big-endian) digest of everything fed; resets for a new message.
    std::array<std::uint8_t, 16> finish();
    void reset();

    Path path() const { return path_; }
    static bool available(Path path);

    // The library's streaming state lives here, so a digest context needs
    // no allocation; the source checks that it fits.
    static constexpr std::size_t state_size = 576;

private:
    alignas(64) unsigned char state_[state_size];
    Path path_;
};

}  // namespace filarix
