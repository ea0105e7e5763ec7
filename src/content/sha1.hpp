// SHA-1 message digest (FIPS 180-4), with the SHA instructions where present.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/block_framing.hpp"
#include "content/block_lanes.hpp"
#include "content/digest_hex.hpp"

namespace filarix {

class Sha1 {
public:
    // allow_hardware = false keeps to the portable kernel (for tests and benchmarks).
    explicit Sha1(bool allow_hardware = true);
    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // Pads, returns the digest of everything fed, and resets for a new message.
    std::array<std::uint8_t, 20> finish();
    void reset();
    // The digests of several whole messages at once, side by side in the
    // lanes of the processor's vector registers where it has AVX-512 (one
    // after the other where not): digests[i] is that of messages[i].
    static void digest_many(const LaneMessage* messages, std::size_t count,
                            std::array<std::uint8_t, 20>* digests);
    // Whether this object uses the SHA instructions.
    bool uses_hardware() const { return hardware_; }

private:
    void compress(const std::uint8_t* p, std::size_t blocks);

    bool hardware_;
    std::uint32_t state_[5];
    BlockFraming framing_;
};

// MD5 and SHA-1 of the same whole messages: in one pass where the
// processor has AVX-512, the two digests' steps side by side; each
// digest_many alone where not.
void md5_and_sha1_many(const LaneMessage* messages, std::size_t count,
                       std::array<std::uint8_t, 16>* md5, std::array<std::uint8_t, 20>* sha1);

// Whether the processor has the SHA extensions plus SSSE3 and SSE4.1 (asked
// once, then remembered).
bool sha1_hardware_available();

}  // namespace filarix
