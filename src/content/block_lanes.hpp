// Several messages of a Merkle-Damgard digest with 64-byte blocks hashed
// side by side, one in each lane of a vector kernel: each lane takes the
// next message as soon as its own has ended, the longest first, so that
// the lanes end close together.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <numeric>

namespace filarix {

struct LaneMessage {
    const std::uint8_t* data;
    std::size_t size;
};

// A digest's state words as its bytes: MD5 low byte first, SHA-1 high.
template <bool BigEndian>
void state_bytes(const std::uint32_t* words, std::size_t count, std::uint8_t* out) {
    for (std::size_t w = 0; w < count; ++w)
        for (std::size_t i = 0; i < 4; ++i)
            out[4 * w + i] =
                static_cast<std::uint8_t>(words[w] >> (BigEndian ? 24 - 8 * i : 8 * i));
}

// compress(state, words, last) takes one block of every lane: `state`
// holds the first state word of every lane, then the second, and so on;
// `words` the blocks' sixteen words the same way, in the digest's byte
// order; bit i of `last` is set when lane i holds its message's last
// block. The messages are padded with the bit length in that byte order.
// store(i, state) takes the final StateWords words of message i.
template <std::size_t Lanes, std::size_t StateWords, bool BigEndian, class Compress, class Store>
void hash_in_lanes(const LaneMessage* messages, std::size_t count,
                   const std::uint32_t (&initial)[StateWords], Compress&& compress, Store&& store) {
    struct Lane {
        std::size_t message = 0;
        const std::uint8_t* next = nullptr;  // the whole blocks still to go
        std::size_t whole = 0;
        std::size_t tail_blocks = 0;  // then the padded end, in `tail`
        std::size_t tail_done = 0;
        std::uint8_t tail[128];
        bool busy = false;
    };
    const auto word = [](const std::uint8_t* p) {
        std::uint32_t w;
        std::memcpy(&w, p, 4);
        return BigEndian ? __builtin_bswap32(w) : w;
    };
    std::size_t order_buffer[64];
    std::unique_ptr<std::size_t[]> order_heap;
    std::size_t* order = order_buffer;
    if (count > std::size(order_buffer)) {
        order_heap.reset(new std::size_t[count]);
        order = order_heap.get();
    }
    std::iota(order, order + count, std::size_t{0});
    const auto longer = [&](std::size_t a, std::size_t b) {
        return messages[a].size > messages[b].size;
    };
    if (count <= std::size(order_buffer)) {
        // A group's few: sorted in place, where the library's stable sort
        // would allocate a buffer for each group.
        for (std::size_t i = 1; i < count; ++i)
            for (std::size_t j = i; j > 0 && longer(order[j], order[j - 1]); --j)
                std::swap(order[j], order[j - 1]);
    } else {
        std::stable_sort(order, order + count, longer);
    }

    alignas(64) std::uint32_t state[StateWords * Lanes] = {};
    alignas(64) std::uint32_t words[16 * Lanes] = {};
    Lane lanes[Lanes];
    std::size_t started = 0;
    std::size_t busy = 0;
    const auto start = [&](std::size_t l) {
        Lane& lane = lanes[l];
        const LaneMessage& m = messages[order[started]];
        lane.message = order[started++];
        lane.next = m.data;
        lane.whole = m.size / 64;
        const std::size_t rest = m.size % 64;
        lane.tail_blocks = rest + 9 > 64 ? 2 : 1;
        lane.tail_done = 0;
        std::memset(lane.tail, 0, sizeof lane.tail);
        if (rest != 0) std::memcpy(lane.tail, m.data + lane.whole * 64, rest);
        lane.tail[rest] = 0x80;
        const std::uint64_t bits = static_cast<std::uint64_t>(m.size) << 3;
        std::uint8_t* length = lane.tail + lane.tail_blocks * 64 - 8;
        for (std::size_t i = 0; i < 8; ++i)
            length[i] = static_cast<std::uint8_t>(bits >> (BigEndian ? 56 - 8 * i : 8 * i));
        for (std::size_t w = 0; w < StateWords; ++w) state[w * Lanes + l] = initial[w];
        lane.busy = true;
        ++busy;
    };
    for (std::size_t l = 0; l < Lanes && started < count; ++l) start(l);
    while (busy != 0) {
        std::uint32_t last = 0;
        for (std::size_t l = 0; l < Lanes; ++l) {
            const Lane& lane = lanes[l];
            if (!lane.busy) continue;
            const std::uint8_t* block =
                lane.whole != 0 ? lane.next : lane.tail + 64 * lane.tail_done;
            if (lane.whole == 0 && lane.tail_done + 1 == lane.tail_blocks) last |= 1u << l;
            for (std::size_t w = 0; w < 16; ++w) words[w * Lanes + l] = word(block + 4 * w);
        }
        compress(state, words, last);
        for (std::size_t l = 0; l < Lanes; ++l) {
            Lane& lane = lanes[l];
            if (!lane.busy) continue;
            if (lane.whole != 0) {
                lane.next += 64;
                --lane.whole;
                continue;
            }
            if (++lane.tail_done < lane.tail_blocks) continue;
            std::uint32_t out[StateWords];
            for (std::size_t w = 0; w < StateWords; ++w) out[w] = state[w * Lanes + l];
            store(lane.message, out);
            lane.busy = false;
            --busy;
            if (started < count) start(l);
        }
    }
}

}  // namespace filarix
