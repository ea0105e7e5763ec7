// BLAKE3-256: a security digest that hashes a file as a tree of 1 KiB
// chunks, so whole subtrees can be hashed side by side (several chunks in
// one vector register, and two halves of a large read on two cores). Its
// digits are b3sum's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace filarix {

// Runs job(argument, i) for every i below count, each once, on this thread
// and another at once, each taking the next i as it gets free, and
// returns when all are done: what lets one large input be hashed on two
// cores, neither waiting long for the other.
class Blake3Splitter {
public:
    virtual void share(void (*job)(void*, std::size_t), void* argument, std::size_t count) = 0;
    // Before the hashing of each part, on the thread that hashes it: the
    // bytes may be brought in first, each core paying for its own parts.
    virtual void before_part(const void* /*data*/, std::size_t /*size*/) {}

protected:
    ~Blake3Splitter() = default;
};

class Blake3 {
public:
    // The kernels, from the plainest; a faster one is used only when the
    // processor has its instructions.
    enum class Path : std::uint8_t { portable, sse41, avx2, avx512 };
    // The fastest path the processor has, or the portable one.
    explicit Blake3(bool allow_hardware = true);
    // Exactly this path (for tests and benchmarks); it must be available.
    explicit Blake3(Path path);

    // Feeds more bytes; any split of the message over calls gives the same digest.
    void update(const void* data, std::size_t size);
    // The digest of everything fed; resets for a new message.
    std::array<std::uint8_t, 32> finish();
    void reset();

    Path path() const { return path_; }
    static bool available(Path path);
    static Path fastest();
    // Large subtrees are then hashed in parts on two threads at once;
    // none: one thread. A subtree may then span up to `largest_chunks` chunks (a
    // power of two, 256 or more) of one update, so that a large input is
    // handed over in few, large halves.
    void set_splitter(Blake3Splitter* splitter, std::size_t largest_chunks = 256) {
        splitter_ = splitter;
        largest_chunks_ = splitter ? largest_chunks : 256;
    }

private:
    struct ChunkState {
        std::uint32_t cv[8];
        std::uint64_t counter = 0;
        std::uint8_t block[64] = {};
        std::size_t block_len = 0;
        std::size_t blocks_done = 0;
        std::size_t length() const { return 64 * blocks_done + block_len; }
    };

    void start_chunk(std::uint64_t counter);
    void feed_chunk(const std::uint8_t* p, std::size_t n);
    void push_cv(const std::uint8_t cv[32], std::uint64_t first);
    // Merges the stack down to the subtrees of the message's first `chunks` chunks.
    void merge_stack(std::uint64_t chunks);
    void subtree_cv(const std::uint8_t* p, std::size_t chunks, std::uint64_t counter,
                    std::uint8_t out[32]) const;
    static void part_job(void* job, std::size_t i);

    Path path_;
    Blake3Splitter* splitter_ = nullptr;
    std::size_t largest_chunks_ = 256;
    ChunkState chunk_;
    // The chaining values of the finished subtrees, left to right; merged
    // with their neighbour only once more input shows neither is the root.
    std::uint8_t stack_[64][32];
    std::size_t stack_size_ = 0;
};

}  // namespace filarix
