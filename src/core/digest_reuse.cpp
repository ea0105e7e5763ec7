#include "core/digest_reuse.hpp"

namespace filarix {

std::optional<HeldDigests> LinkedDigests::held_digests(std::string_view /*path*/,
                                                       std::uint64_t size,
                                                       const platform::PreciseFacts& now) {
    const auto at = kept_.find({now.device, now.inode});
    if (at == kept_.end()) return std::nullopt;
    Kept& kept = at->second;
    // Written to or changed since: read as any other file.
    if (kept.size != size || kept.modified_ns != now.modified_ns ||
        kept.change_time_ns != now.change_time_ns)
        return std::nullopt;
    if (--kept.names_left != 0) return kept.digests;
    // The last name: nothing will ask again.
    HeldDigests digests = std::move(kept.digests);
    kept_.erase(at);
    return digests;
}

void LinkedDigests::count_unread(std::uint64_t size) {
    ++files_unread_;
    bytes_unread_ += size;
}

void LinkedDigests::remember(std::uint64_t size, const platform::PreciseFacts& facts,
                             const HeldDigests& digests) {
    kept_.insert_or_assign(
        Identity{facts.device, facts.inode},
        Kept{size, facts.modified_ns, facts.change_time_ns, facts.links - 1, digests});
}

}  // namespace filarix
