// The rows of an earlier catalogue held for lookups by their exact path
// bytes: what --DIFF and --REUSE look an entry of the walk up in. The first
// row of a path is the one kept.
//
// A catalogue may hold millions of rows, so they are not kept as
// EarlierEntry objects: each row is encoded into one byte arena (numbers as
// varints, digests as binary, a path as its directory, held once for all
// the rows of that directory, plus its name; kinds, attributes and owners,
// which take few values, as numbers of a word table), and found through an
// open-addressing index of 32-bit row numbers by the hash of the path. Each
// row leads with its length, so that only every sixteenth row's place is
// kept: the others are found by stepping over the rows before them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/earlier_entry.hpp"

namespace filarix {

// 32-bit values by a 32-bit hash, with open addressing; equal hashes may
// hold several values, which the caller tells apart.
class HashSlots {
public:
    void insert(std::uint32_t hash, std::uint32_t value);
    // Room for `count` values without growing.
    void reserve(std::size_t count);
    // Calls `visit(value)` for each value held under `hash` until it
    // returns true.
    template <typename Visit>
    void each(std::uint32_t hash, Visit visit) const {
        if (slots_.empty()) return;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            const Slot& slot = slots_[at];
            if (slot.value == 0) return;
            if (slot.hash == hash && visit(slot.value - 1)) return;
        }
    }
    // Brings the first slot `hash` is looked for in towards the cache.
    void prefetch(std::uint32_t hash) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    }
    std::size_t size() const { return used_; }
    std::size_t bytes() const { return slots_.size() * sizeof(Slot); }

private:
    static bool full(std::size_t used, std::size_t slots);
    void grow(std::size_t size);
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t value = 0;  // the value + 1; 0 for a free slot
    };
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

// The minute of the time text read last, "YYYY-MM-DDTHH:MM", and its
// seconds.
struct TimeMinute {
    std::array<char, 16> text{};
    std::int64_t seconds = 0;
    bool held = false;
};

class EarlierRows {
public:
    EarlierRows();
    ~EarlierRows();
    EarlierRows(EarlierRows&&) noexcept;
    EarlierRows& operator=(EarlierRows&&) noexcept;

    // Takes a row; false (and nothing kept) for a path already held.
    bool add(const EarlierEntry& entry) { return add(entry, path_hash(entry.path)); }
    // The same with the path's hash already made.
    bool add(const EarlierEntry& entry, std::uint32_t hash);
    static std::uint32_t path_hash(std::string_view path) { return hash32(path); }
    // Brings the index slot of the path of that hash towards the cache: the
    // index of a large catalogue is far beyond the caches, and a caller
    // holding rows to add asks a few rows ahead.
    void prefetch(std::uint32_t hash) const { by_path_.prefetch(hash); }
    std::size_t size() const { return count_; }
    // The index of the path's row, in the order rows were added.
    std::optional<std::size_t> find(std::string_view path) const;
    // Whether the row's path is `path`, for a guess cheaper than find.
    bool holds_path(std::size_t index, std::string_view path) const;
    // The row as it was added.
    EarlierEntry row(std::size_t index) const;
    // The same into `into`, whose storage is reused: no allocation for a
    // row no longer than the one it held. Without `derived_times` the
    // write time's text is left empty where the row made it from
    // modified_ns, which then says all it does. Without `with_path` the
    // path is left as `into` held it, for a caller that knows it.
    void read(std::size_t index, EarlierEntry& into, bool derived_times = true,
              bool with_path = true) const;
    // The row's path alone.
    void read_path(std::size_t index, std::string& into) const;
    // The row's digest as its bytes; empty where the row holds none (or
    // holds a text that is no digest of that kind).
    std::string_view digest_bytes(std::size_t index, DigestId id) const;

    // The memory the rows take, for measurements.
    std::size_t bytes_held() const;

private:
    static std::uint32_t hash32(std::string_view bytes) {
        const std::uint64_t h = std::hash<std::string_view>{}(bytes);
        return static_cast<std::uint32_t>(h ^ (h >> 32));
    }
    struct Arena;
    struct Words;
    const char* at(std::size_t index) const;
    std::uint32_t directory_id(std::string_view directory);
    std::uint32_t word_id(std::string_view word);

    // Rows whose place is kept: one in this many.
    static constexpr std::size_t group_rows = 16;

    std::unique_ptr<Arena> arena_;
    std::vector<std::uint64_t> group_starts_;  // block << 32 | offset, per group
    // The numbers a group's rows are held as differences from: its first
    // row's (0 where it has none).
    std::vector<std::array<std::uint64_t, 3>> group_bases_;
    std::size_t count_ = 0;
    // The row found last, and its place: rows asked for in their order
    // (the walk's, a catalogue of this tree's) are found without stepping.
    mutable std::size_t last_index_ = SIZE_MAX;
    mutable std::uint64_t last_location_ = 0;
    HashSlots by_path_;
    std::unique_ptr<Words> directories_;
    std::unique_ptr<Words> words_;
    // The word each word field of the row added last held, and its
    // directory: what the next row most likely holds again.
    std::array<std::uint32_t, 4> word_hints_{UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX};
    std::uint32_t directory_hint_ = UINT32_MAX;
    TimeMinute time_minute_;

    friend class RowEncoder;
    friend class RowDecoder;
};

}  // namespace filarix
