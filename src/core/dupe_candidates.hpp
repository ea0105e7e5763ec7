// The files --DUPES seeks copies among, kept from the walk, and the state
// of the rows written afterwards. A million files must fit in little
// memory: paths share one arena, each directory is stored once, and an
// entry is a few numbers.
#pragma once

#include <cstdint>
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
    std::uint64_t device(std::size_t i) const { return items_[i].device; }
    std::uint64_t inode(std::size_t i) const { return items_[i].inode; }
    std::u16string_view directory(std::size_t i) const;
    std::u16string_view name(std::size_t i) const;
    std::u16string path(std::size_t i) const;
    // Path order: the directory's characters, then the name's.
    bool path_before(std::size_t a, std::size_t b) const;
    void release();

private:
    struct Item {
        std::uint64_t size;
        std::uint64_t device;
        std::uint64_t inode;
        std::uint64_t name_at;
        std::uint32_t directory;
        std::uint32_t name_length;
    };
    struct Span {
        std::uint64_t at;
        std::uint64_t length;
    };
    std::u16string text_;
    std::vector<Span> directories_;
    std::vector<Item> items_;
};

// What the rows of the duplicate phase take from it: the group's number
// (0 while the walk collects) and the digests the group was proven on.
struct DupeRow {
    std::uint64_t group = 0;
    const HeldDigests* digests = nullptr;
};

struct DupeTotals {
    std::uint64_t groups = 0;
    std::uint64_t files = 0;  // distinct files: the names of one count once
    std::uint64_t bytes_saved = 0;
};

}  // namespace filarix
