// MD5 message digest (RFC 1321).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/block_framing.hpp"
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

private:
    std::uint32_t state_[4];
    BlockFraming framing_;
};

}  // namespace filarix
