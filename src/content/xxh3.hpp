// XXH3-128: a quick fingerprint of a file's bytes, not a security digest
// (anyone can make two files that share one). Its digits are xxhsum -H2's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace filarix {

class Xxh3_128 {
public:
    Xxh3_128() { reset(); }
    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // The canonical (big-endian) digest of everything fed; resets for a new message.
    std::array<std::uint8_t, 16> finish();
    void reset();

    // The library's streaming state lives here, so a digest context needs
    // no allocation; the source checks that it fits.
    static constexpr std::size_t state_size = 576;

private:
    alignas(64) unsigned char state_[state_size];
};

}  // namespace filarix
