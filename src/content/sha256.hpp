// SHA-256 message digest (FIPS 180-4), with the SHA instructions where present.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/block_framing.hpp"
#include "content/digest_hex.hpp"

namespace filarix {

class Sha256 {
public:
    // allow_hardware = false keeps to the portable kernel (for tests and benchmarks).
    explicit Sha256(bool allow_hardware = true);
    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // Feeds `size` bytes to each of two digests, as update does; with the
    // SHA instructions both are hashed together, nearly twice as fast.
    static void update_two(Sha256& a, const void* data_a, Sha256& b, const void* data_b,
                           std::size_t size);
    // Pads, returns the digest of everything fed, and resets for a new message.
    std::array<std::uint8_t, 32> finish();
    void reset();
    // Whether this object uses the SHA instructions.
    bool uses_hardware() const { return hardware_; }

private:
    void compress(const std::uint8_t* p, std::size_t blocks);

    bool hardware_;
    std::uint32_t state_[8];
    BlockFraming framing_;
};

// Whether the processor has the SHA extensions plus SSSE3 and SSE4.1 (asked
// once, then remembered).
bool sha256_hardware_available();

}  // namespace filarix
