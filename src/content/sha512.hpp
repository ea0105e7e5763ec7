// SHA-512 message digest (FIPS 180-4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/block_framing.hpp"
#include "content/digest_hex.hpp"

namespace filarix {

class Sha512 {
public:
    Sha512() { reset(); }
    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // Pads, returns the digest of everything fed, and resets for a new message.
    std::array<std::uint8_t, 64> finish();
    void reset();

private:
    std::uint64_t state_[8];
    BasicBlockFraming<128, 16> framing_;
};

}  // namespace filarix
