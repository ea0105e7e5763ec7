// SHA3-256 message digest (FIPS 202): the Keccak-f[1600] sponge with a rate
// of 136 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/digest_hex.hpp"

namespace filarix {

class Sha3_256 {
public:
    Sha3_256() { reset(); }
    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // Pads, returns the digest of everything fed, and resets for a new message.
    std::array<std::uint8_t, 32> finish();
    void reset();

    static constexpr std::size_t rate = 136;  // bytes absorbed per permutation

private:
    // Lane x + 5y of the 5 x 5 state. A partial block is XORed into the
    // lanes as it arrives, so the state doubles as the input buffer.
    std::uint64_t state_[25];
    std::size_t absorbed_;  // bytes of the current block already in state_
};

}  // namespace filarix
