#include "content/blake3.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "content/kernels/blake3_constants.hpp"
#include "content/kernels/kernels.hpp"

namespace filarix {

namespace {

using kernels::blake3_block_size;
using kernels::blake3_blocks_per_chunk;
using kernels::blake3_chunk_size;
using kernels::blake3_iv;

// The largest subtree hashed from one read in one go: its chaining values
// fit on the stack, and a 256 KiB read is one such subtree.
constexpr std::size_t max_subtree_chunks = 256;
// A subtree smaller than this is not worth a hand-over to another thread.
constexpr std::size_t split_chunks = 64;
// A larger one is shared in parts of this many chunks (2 MiB), small
// enough that a core does not wait long for the other's last one, but at
// least two and at most max_parts.
constexpr std::size_t part_chunks = 2048;
constexpr std::size_t max_parts = 64;
// The last part of a subtree this large or more is shared in quarters: the
// parts are taken in order, so a core that finds none left waits at most a
// quarter part for the other's last.
constexpr std::size_t quartered_from = 1024;

void store_cv(const std::uint32_t cv[8], std::uint8_t* out) {
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(cv[i] >> (8 * j));
}

// Hashes `count` inputs of `blocks` whole blocks each, as many at a time as
// the path's registers hold, the rest one by one.
void hash_many(Blake3::Path path, const std::uint8_t* const* inputs, std::size_t count,
               std::size_t blocks, std::uint64_t counter, bool add_lane, std::uint8_t flags,
               std::uint8_t first_flags, std::uint8_t last_flags, std::uint8_t* out) {
    std::size_t i = 0;
    if (path == Blake3::Path::avx512)
        for (; count - i >= 16; i += 16)
            kernels::blake3_hash16_avx512(inputs + i, blocks, blake3_iv,
                                          counter + (add_lane ? i : 0), add_lane, flags,
                                          first_flags, last_flags, out + 32 * i);
    if (path == Blake3::Path::avx2 || path == Blake3::Path::avx512)
        for (; count - i >= 8; i += 8)
            kernels::blake3_hash8_avx2(inputs + i, blocks, blake3_iv, counter + (add_lane ? i : 0),
                                       add_lane, flags, first_flags, last_flags, out + 32 * i);
    if (path != Blake3::Path::portable)
        for (; count - i >= 4; i += 4)
            kernels::blake3_hash4_sse41(inputs + i, blocks, blake3_iv, counter + (add_lane ? i : 0),
                                        add_lane, flags, first_flags, last_flags, out + 32 * i);
    for (; i < count; ++i) {
        std::uint32_t cv[8];
        std::copy(std::begin(blake3_iv), std::end(blake3_iv), cv);
        for (std::size_t b = 0; b < blocks; ++b) {
            const std::uint8_t f =
                flags | (b == 0 ? first_flags : 0) | (b + 1 == blocks ? last_flags : 0);
            kernels::blake3_compress(cv, inputs[i] + blake3_block_size * b,
                                     counter + (add_lane ? i : 0), blake3_block_size, f);
        }
        store_cv(cv, out + 32 * i);
    }
}

// The chaining value of a subtree of `chunks` whole chunks (a power of
// two), none of them the root: its leaves side by side, then each level
// of parents side by side.
void local_subtree_cv(Blake3::Path path, const std::uint8_t* p, std::size_t chunks,
                      std::uint64_t counter, std::uint8_t out[32]) {
    const std::uint8_t* inputs[max_subtree_chunks] = {};
    std::uint8_t cvs[2][max_subtree_chunks * 32];
    for (std::size_t i = 0; i < chunks; ++i) inputs[i] = p + blake3_chunk_size * i;
    hash_many(path, inputs, chunks, blake3_blocks_per_chunk, counter, true, 0,
              kernels::blake3_chunk_start, kernels::blake3_chunk_end, cvs[0]);
    int level = 0;
    for (std::size_t n = chunks; n > 1; n /= 2, level ^= 1) {
        // Two neighbours' chaining values make one parent block.
        for (std::size_t i = 0; i < n / 2; ++i) inputs[i] = cvs[level] + 64 * i;
        hash_many(path, inputs, n / 2, 1, 0, false, kernels::blake3_parent, 0, 0, cvs[level ^ 1]);
    }
    std::memcpy(out, cvs[level], 32);
}

void parent_cv(const std::uint8_t pair[64], std::uint8_t out[32], std::uint32_t flags) {
    std::uint32_t cv[8];
    std::copy(std::begin(blake3_iv), std::end(blake3_iv), cv);
    kernels::blake3_compress(cv, pair, 0, blake3_block_size, kernels::blake3_parent | flags);
    store_cv(cv, out);
}

// The same for a subtree of any power of two chunks: those of the largest
// size hashed in one go, joined pairwise up to its root.
void wide_subtree_cv(Blake3::Path path, const std::uint8_t* p, std::size_t chunks,
                     std::uint64_t counter, std::uint8_t out[32]) {
    if (chunks <= max_subtree_chunks) {
        local_subtree_cv(path, p, chunks, counter, out);
        return;
    }
    const std::size_t half = chunks / 2;
    std::uint8_t pair[64];
    wide_subtree_cv(path, p, half, counter, pair);
    wide_subtree_cv(path, p + half * blake3_chunk_size, half, counter + half, pair + 32);
    parent_cv(pair, out, 0);
}

}  // namespace

bool Blake3::available(Path path) {
    switch (path) {
        case Path::portable:
            return true;
        case Path::sse41:
            return kernels::blake3_sse41_available();
        case Path::avx2:
            return kernels::blake3_avx2_available();
        case Path::avx512:
            return kernels::blake3_avx512_available();
    }
    return false;
}

Blake3::Path Blake3::fastest() {
    if (available(Path::avx512)) return Path::avx512;
    if (available(Path::avx2)) return Path::avx2;
    if (available(Path::sse41)) return Path::sse41;
    return Path::portable;
}

Blake3::Blake3(bool allow_hardware) : Blake3(allow_hardware ? fastest() : Path::portable) {}

Blake3::Blake3(Path path) : path_(path) {
    reset();
}

void Blake3::reset() {
    stack_size_ = 0;
    start_chunk(0);
}

void Blake3::start_chunk(std::uint64_t counter) {
    std::copy(std::begin(blake3_iv), std::end(blake3_iv), chunk_.cv);
    chunk_.counter = counter;
    chunk_.block_len = 0;
    chunk_.blocks_done = 0;
}

// Takes at most what the chunk still lacks. The last block stays in the
// buffer: only the next byte or finish() tells how it ends.
void Blake3::feed_chunk(const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        if (chunk_.block_len == blake3_block_size) {
            kernels::blake3_compress(chunk_.cv, chunk_.block, chunk_.counter, blake3_block_size,
                                     chunk_.blocks_done == 0 ? kernels::blake3_chunk_start : 0);
            ++chunk_.blocks_done;
            chunk_.block_len = 0;
        }
        while (chunk_.block_len == 0 && n > blake3_block_size) {
            kernels::blake3_compress(chunk_.cv, p, chunk_.counter, blake3_block_size,
                                     chunk_.blocks_done == 0 ? kernels::blake3_chunk_start : 0);
            ++chunk_.blocks_done;
            p += blake3_block_size;
            n -= blake3_block_size;
        }
        const std::size_t take = std::min(blake3_block_size - chunk_.block_len, n);
        std::memcpy(chunk_.block + chunk_.block_len, p, take);
        chunk_.block_len += take;
        p += take;
        n -= take;
    }
}

// The subtree beginning at chunk `first` goes on the stack, after those
// before it are merged as far as the tree's shape allows: as many entries
// stay as `first` has bits set.
void Blake3::push_cv(const std::uint8_t cv[32], std::uint64_t first) {
    merge_stack(first);
    std::memcpy(stack_[stack_size_++], cv, 32);
}

void Blake3::merge_stack(std::uint64_t chunks) {
    const auto keep = static_cast<std::size_t>(std::popcount(chunks));
    while (stack_size_ > keep) {
        std::uint8_t pair[64];
        std::memcpy(pair, stack_[stack_size_ - 2], 32);
        std::memcpy(pair + 32, stack_[stack_size_ - 1], 32);
        parent_cv(pair, stack_[stack_size_ - 2], 0);
        --stack_size_;
    }
}

struct PartsJob {
    Blake3Splitter* splitter;
    Blake3::Path path;
    const std::uint8_t* p;
    std::size_t chunks;  // of each part
    std::size_t whole;   // parts hashed whole; the ones after are quarters of the next
    std::uint64_t counter;
    std::uint8_t* cvs;  // a part's, or the quarters' from the last part's place on
};

void Blake3::part_job(void* job, std::size_t i) {
    const auto& j = *static_cast<const PartsJob*>(job);
    const std::size_t chunks = i < j.whole ? j.chunks : j.chunks / 4;
    const std::size_t first =
        i < j.whole ? i * j.chunks : j.whole * j.chunks + (i - j.whole) * chunks;
    const std::uint8_t* const p = j.p + first * blake3_chunk_size;
    const std::size_t size = chunks * blake3_chunk_size;
    j.splitter->before_part(p, size);
    wide_subtree_cv(j.path, p, chunks, j.counter + first, j.cvs + 32 * i);
}

void Blake3::subtree_cv(const std::uint8_t* p, std::size_t chunks, std::uint64_t counter,
                        std::uint8_t out[32]) const {
    if (splitter_ == nullptr || chunks < split_chunks) {
        wide_subtree_cv(path_, p, chunks, counter, out);
        return;
    }
    const std::size_t parts = std::clamp<std::size_t>(chunks / part_chunks, 2, max_parts);
    std::uint8_t cvs[(max_parts + 3) * 32];
    const bool quartered = chunks / parts >= quartered_from;
    const std::size_t whole = quartered ? parts - 1 : parts;
    PartsJob job{splitter_, path_, p, chunks / parts, whole, counter, cvs};
    splitter_->share(&Blake3::part_job, &job, quartered ? whole + 4 : parts);
    // The quarters' chaining values joined into the last part's.
    if (quartered) {
        std::uint8_t* const last = cvs + 32 * whole;
        parent_cv(last, last, 0);
        parent_cv(last + 64, last + 32, 0);
        parent_cv(last, last, 0);
    }
    // The parts' chaining values joined pairwise, level by level, in place.
    for (std::size_t n = parts; n > 1; n /= 2)
        for (std::size_t i = 0; i < n / 2; ++i) parent_cv(cvs + 64 * i, cvs + 32 * i, 0);
    std::memcpy(out, cvs, 32);
}

void Blake3::update(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        if (chunk_.length() == blake3_chunk_size) {
            // More follows, so the full chunk is not the last.
            std::uint32_t cv[8];
            std::copy(std::begin(chunk_.cv), std::end(chunk_.cv), cv);
            kernels::blake3_compress(cv, chunk_.block, chunk_.counter, blake3_block_size,
                                     kernels::blake3_chunk_end);
            std::uint8_t bytes[32];
            store_cv(cv, bytes);
            push_cv(bytes, chunk_.counter);
            start_chunk(chunk_.counter + 1);
        }
        if (chunk_.length() == 0 && size >= blake3_chunk_size) {
            // Whole chunks straight from the input, as the largest subtree
            // that begins here in the tree. The message's first subtree
            // leaves at least one byte over, for it could be the root.
            std::size_t chunks =
                std::bit_floor(std::min(size / blake3_chunk_size, largest_chunks_));
            while ((chunk_.counter & (chunks - 1)) != 0) chunks /= 2;
            if (chunk_.counter == 0 && chunks * blake3_chunk_size == size) chunks /= 2;
            if (chunks > 0) {
                std::uint8_t cv[32];
                subtree_cv(p, chunks, chunk_.counter, cv);
                push_cv(cv, chunk_.counter);
                start_chunk(chunk_.counter + chunks);
                p += chunks * blake3_chunk_size;
                size -= chunks * blake3_chunk_size;
                continue;
            }
        }
        const std::size_t take = std::min(blake3_chunk_size - chunk_.length(), size);
        feed_chunk(p, take);
        p += take;
        size -= take;
    }
}

std::array<std::uint8_t, 32> Blake3::finish() {
    // The last compression of the message is the root's: the last chunk's
    // last block when a chunk is open (or the message is empty), else the
    // parent of the two last subtrees.
    std::uint8_t block[64];
    std::uint32_t cv[8];
    std::uint64_t counter = 0;
    std::uint32_t block_len = blake3_block_size;
    std::uint32_t flags = kernels::blake3_parent;
    const bool chunk_open = chunk_.length() > 0 || stack_size_ < 2;
    if (chunk_open) {
        merge_stack(chunk_.counter);
        std::memcpy(block, chunk_.block, chunk_.block_len);
        std::memset(block + chunk_.block_len, 0, blake3_block_size - chunk_.block_len);
        std::copy(std::begin(chunk_.cv), std::end(chunk_.cv), cv);
        counter = chunk_.counter;
        block_len = static_cast<std::uint32_t>(chunk_.block_len);
        flags =
            kernels::blake3_chunk_end | (chunk_.blocks_done == 0 ? kernels::blake3_chunk_start : 0);
    }
    std::size_t left = stack_size_;
    if (!chunk_open) {
        std::memcpy(block, stack_[left - 2], 32);
        std::memcpy(block + 32, stack_[left - 1], 32);
        std::copy(std::begin(blake3_iv), std::end(blake3_iv), cv);
        left -= 2;
    }
    // Each subtree still on the stack is the left neighbour of what follows it.
    while (left > 0) {
        kernels::blake3_compress(cv, block, counter, block_len, flags);
        std::memcpy(block, stack_[--left], 32);
        store_cv(cv, block + 32);
        std::copy(std::begin(blake3_iv), std::end(blake3_iv), cv);
        counter = 0;
        block_len = blake3_block_size;
        flags = kernels::blake3_parent;
    }
    kernels::blake3_compress(cv, block, counter, block_len, flags | kernels::blake3_root);
    std::array<std::uint8_t, 32> digest;
    store_cv(cv, digest.data());
    reset();
    return digest;
}

}  // namespace filarix
