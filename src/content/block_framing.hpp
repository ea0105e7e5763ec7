// The 64-byte block framing that MD5 and SHA-1 share: bytes are gathered
// into whole blocks for the compression function, and the message ends
// with 0x80, zeros up to 56 mod 64 and the length in bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class BlockFraming {
public:
    // compress(const std::uint8_t* blocks, std::size_t count) takes whole blocks.
    template <class Compress>
    void update(const void* data, std::size_t size, Compress&& compress) {
        auto p = static_cast<const std::uint8_t*>(data);
        length_ += size;
        if (buffered_ != 0) {
            const std::size_t take = size < 64 - buffered_ ? size : 64 - buffered_;
            std::memcpy(buffer_ + buffered_, p, take);
            buffered_ += take;
            p += take;
            size -= take;
            if (buffered_ < 64) return;
            compress(buffer_, std::size_t{1});
            buffered_ = 0;
        }
        if (size >= 64) {
            compress(p, size / 64);
            p += size & ~std::size_t{63};
            size &= 63;
        }
        if (size != 0) std::memcpy(buffer_, p, size);
        buffered_ = size;
    }

    // Feeds the padding and the bit length (little-endian for MD5,
    // big-endian for SHA-1), then starts a new message.
    template <class Compress>
    void finish(bool big_endian_length, Compress&& compress) {
        const std::uint64_t bits = length_ * 8;
        std::uint8_t pad[72] = {0x80};
        const std::size_t pad_size = (buffered_ < 56 ? 56 : 120) - buffered_;
        for (int i = 0; i < 8; ++i)
            pad[pad_size + i] =
                static_cast<std::uint8_t>(bits >> (big_endian_length ? 56 - 8 * i : 8 * i));
        update(pad, pad_size + 8, compress);
        reset();
    }

    void reset() {
        length_ = 0;
        buffered_ = 0;
    }

private:
    std::uint64_t length_ = 0;  // bytes fed so far
    std::size_t buffered_ = 0;  // bytes waiting in buffer_
    std::uint8_t buffer_[64];
};
