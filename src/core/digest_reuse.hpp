// Digests taken instead of read. An earlier listing (--REUSE) holds those
// of a file that has not changed since; a file with other names, read
// once in this run, holds those of each name met later. The record asks
// one place, DigestsOnHand, and hands over the facts that tell the file is
// the same.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/digest_set.hpp"
#include "platform/platform.hpp"

namespace filarix {

// Per digest: upper-case hexadecimal, or empty where the row holds none.
using HeldDigests = std::array<std::string, digest_count>;

class DigestReuse {
public:
    virtual ~DigestReuse() = default;
    // The row's digests when the listing has a row for `path` (the exact
    // bytes of the name) whose size, write and change times, device and
    // inode are all there and all those of the file now.
    virtual std::optional<HeldDigests> held_digests(std::string_view path, std::uint64_t size,
                                                    const platform::PreciseFacts& now) = 0;
    // A file whose digests all came from the listing: it was not read.
    virtual void count_unread(std::uint64_t size) = 0;
};

// The digests of files with more than one name, kept by identity once one
// name was read, with the size and times the file had: another name whose
// facts are still those takes them. Only such files are kept, so an
// ordinary tree costs no memory, and each only until its last name.
class LinkedDigests final : public DigestReuse {
public:
    // Any name of the file will do: the identity is the key.
    std::optional<HeldDigests> held_digests(std::string_view path, std::uint64_t size,
                                            const platform::PreciseFacts& now) override;
    void count_unread(std::uint64_t size) override;
    void remember(std::uint64_t size, const platform::PreciseFacts& facts,
                  const HeldDigests& digests);

    std::uint64_t files_unread() const { return files_unread_; }
    std::uint64_t bytes_unread() const { return bytes_unread_; }

private:
    struct Identity {
        std::uint64_t device;
        std::uint64_t inode;
        bool operator==(const Identity&) const = default;
    };
    struct IdentityHash {
        std::size_t operator()(const Identity& i) const {
            return std::hash<std::uint64_t>()(i.inode * 0x9E3779B97F4A7C15ull ^ i.device);
        }
    };
    struct Kept {
        std::uint64_t size;
        std::int64_t modified_ns;
        std::int64_t change_time_ns;
        std::uint64_t names_left;  // not met yet
        HeldDigests digests;
    };
    std::unordered_map<Identity, Kept, IdentityHash> kept_;
    std::uint64_t files_unread_ = 0;
    std::uint64_t bytes_unread_ = 0;
};

// Where the record asks whether a file's digests are known without a read:
// the earlier listing first, then the file's other names.
class DigestsOnHand {
public:
    struct Held {
        HeldDigests digests;
        DigestReuse* source;  // counts the file when every digest came from it
    };
    // `path` is asked for only when a listing is there to look it up in.
    template <typename PathOf>
    std::optional<Held> find(const PathOf& path_of, std::uint64_t size,
                             const platform::PreciseFacts& now) {
        if (listing)
            if (auto held = listing->held_digests(path_of(), size, now))
                return Held{std::move(*held), listing.get()};
        if (now.links > 1)
            if (auto held = links.held_digests({}, size, now))
                return Held{std::move(*held), &links};
        return std::nullopt;
    }
    // A file whose digests were all found: its other names may take them.
    void remember(std::uint64_t size, const platform::PreciseFacts& facts,
                  const HeldDigests& digests) {
        if (facts.links > 1) links.remember(size, facts, digests);
    }

    // The earlier listing of --REUSE.
    std::unique_ptr<DigestReuse> listing;
    LinkedDigests links;
};

}  // namespace filarix
