// The block framing of the Merkle-Damgard digests: bytes are gathered into
// whole blocks for the compression function, and the message ends with 0x80,
// zeros up to the length field and the length in bits. MD5 and SHA-1 (and
// SHA-256) use 64-byte blocks with an 8-byte length, SHA-512 128-byte blocks
// with a 16-byte length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace filarix {

template <std::size_t BlockSize, std::size_t LengthSize>
class BasicBlockFraming {
    static_assert(LengthSize == 8 || LengthSize == 16, "the length field holds 64 or 128 bits");
    static_assert(BlockSize > LengthSize);

public:
    // compress(const std::uint8_t* blocks, std::size_t count) takes whole blocks.
    template <class Compress>
    void update(const void* data, std::size_t size, Compress&& compress) {
        auto p = static_cast<const std::uint8_t*>(data);
        length_ += size;
        if (buffered_ != 0) {
            const std::size_t take = size < BlockSize - buffered_ ? size : BlockSize - buffered_;
            std::memcpy(buffer_ + buffered_, p, take);
            buffered_ += take;
            p += take;
            size -= take;
            if (buffered_ < BlockSize) return;
            compress(buffer_, std::size_t{1});
            buffered_ = 0;
        }
        // Whole blocks go to the compression function straight from the caller.
        if (size >= BlockSize) {
            const std::size_t blocks = size / BlockSize;
            compress(p, blocks);
            p += blocks * BlockSize;
            size -= blocks * BlockSize;
        }
        if (size != 0) std::memcpy(buffer_, p, size);
        buffered_ = size;
    }

    // Feeds the padding and the bit length (little-endian for MD5,
    // big-endian for the SHA family), then starts a new message.
    template <class Compress>
    void finish(bool big_endian_length, Compress&& compress) {
        // The byte count times eight, carried into a second word when the
        // field is wide enough to hold it.
        const std::uint64_t low_bits = length_ << 3;
        const std::uint64_t high_bits = length_ >> 61;
        std::uint8_t pad[BlockSize + LengthSize] = {0x80};
        constexpr std::size_t length_at = BlockSize - LengthSize;
        const std::size_t pad_size =
            (buffered_ < length_at ? length_at : BlockSize + length_at) - buffered_;
        for (std::size_t i = 0; i < LengthSize; ++i) {
            const std::size_t significance = big_endian_length ? LengthSize - 1 - i : i;
            const std::uint64_t word = significance < 8 ? low_bits : high_bits;
            pad[pad_size + i] = static_cast<std::uint8_t>(word >> (8 * (significance % 8)));
        }
        update(pad, pad_size + LengthSize, compress);
        reset();
    }

    // Whether no bytes wait for a whole block: the caller may then
    // compress whole blocks itself and count them with `compressed`.
    bool aligned() const { return buffered_ == 0; }
    void compressed(std::size_t size) { length_ += size; }

    void reset() {
        length_ = 0;
        buffered_ = 0;
    }

private:
    std::uint64_t length_ = 0;  // bytes fed so far
    std::size_t buffered_ = 0;  // bytes waiting in buffer_
    std::uint8_t buffer_[BlockSize];
};

using BlockFraming = BasicBlockFraming<64, 8>;

}  // namespace filarix
