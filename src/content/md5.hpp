// MD5 message digest (RFC 1321).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/block_framing.hpp"
#include "content/block_lanes.hpp"
#include "content/digest_hex.hpp"

namespace filarix {

class Md5 {
public:
    Md5() { reset(); }
    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // Pads, returns the digest of everything fed, and resets for a new message.
    std::array<std::uint8_t, 16> finish();
    void reset();

    // The digests of several whole messages at once, side by side in the
    // lanes of the processor's vector registers where it has them (one
    // after the other where not): digests[i] is that of messages[i].
    using Message = LaneMessage;
    static void digest_many(const Message* messages, std::size_t count,
                            std::array<std::uint8_t, 16>* digests);

private:
    std::uint32_t state_[4];
    BlockFraming framing_;
};

}  // namespace filarix
