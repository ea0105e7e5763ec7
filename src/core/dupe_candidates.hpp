// The files --DUPES seeks copies among, kept from the walk, and the state
// of the rows written afterwards. A million files must fit in little
// memory: names sit in blocks of one arena that never move, each directory
// is stored once, an entry is 16 bytes, and only files with several names
// keep their identity.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/digest_reuse.hpp"
#include "platform/platform.hpp"

namespace filarix {

class DupeCandidates {
public:
    // `facts` tell two names of one file; without them each name stands alone.
    void add(std::u16string_view directory, std::u16string_view name, std::uint64_t size,
             const std::optional<platform::PreciseFacts>& facts);

    std::size_t count() const { return items_.size(); }
    std::uint64_t size(std::size_t i) const { return items_[i].size; }
    // What tells the names of one file: device and inode for a file with
    // several names, else something no other candidate has.
    struct Identity {
        std::uint64_t device;
        std::uint64_t inode;
        auto operator<=>(const Identity&) const = default;
    };
    Identity identity(std::size_t i) const;
    std::u16string_view directory(std::size_t i) const;
    std::u16string_view name(std::size_t i) const;
    std::u16string path(std::size_t i) const;
    // Path order: the directory's characters, then the name's.
    bool path_before(std::size_t a, std::size_t b) const;
    void release();

private:
    // Where a text starts: block and place in it.
    using Place = std::uint32_t;
    static constexpr unsigned block_bits = 20;
    Place store(std::u16string_view text);
    std::u16string_view text_at(Place at, std::size_t length) const;

    struct Item {
        std::uint64_t size;
        std::uint32_t directory;
        Place name;  // its length in the character before it
    };
    struct Directory {
        Place at;
        std::uint32_t length;
    };
    struct Linked {
        std::uint32_t item;
        Identity identity;
    };
    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    std::size_t used_ = 0;  // in the last block
    std::vector<Directory> directories_;
    std::vector<Item> items_;
    std::vector<Linked> linked_;  // in item order
};

// What the rows of the duplicate phase take from it: the group's number
// (0 while the walk collects) and the digests the group was proven on.
struct DupeRow {
    std::uint64_t group = 0;
    const HeldDigests* digests = nullptr;
};

// How far the search is: the files whose size another shares (names of
// one file counted once) and their bytes, and of them those done with.
struct DupeProgress {
    std::uint64_t files_done = 0;
    std::uint64_t files_total = 0;
    std::uint64_t bytes_done = 0;
    std::uint64_t bytes_total = 0;
};

struct DupeTotals {
    std::uint64_t groups = 0;
    std::uint64_t files = 0;  // distinct files: the names of one count once
    std::uint64_t bytes_saved = 0;
};

}  // namespace filarix
