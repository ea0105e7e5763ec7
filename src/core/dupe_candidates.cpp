#include "core/dupe_candidates.hpp"

#include <algorithm>
#include <limits>
#include <new>

namespace filarix {

namespace {
constexpr std::size_t block_size = std::size_t(1) << 20;
}

DupeCandidates::Place DupeCandidates::store(std::u16string_view text) {
    // A text never straddles two blocks; no path is a block long, and the
    // places run out only past four thousand blocks: memory has, then.
    if (text.size() > block_size) throw std::bad_alloc();
    if (blocks_.empty() || used_ + text.size() > block_size) {
        if (blocks_.size() >= (std::size_t(1) << (32 - block_bits))) throw std::bad_alloc();
        blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(block_size));
        used_ = 0;
    }
    const Place at = static_cast<Place>(((blocks_.size() - 1) << block_bits) | used_);
    std::copy(text.begin(), text.end(), blocks_.back().get() + used_);
    used_ += text.size();
    return at;
}

std::u16string_view DupeCandidates::text_at(Place at, std::size_t length) const {
    return {blocks_[at >> block_bits].get() + (at & (block_size - 1)), length};
}

void DupeCandidates::add(std::u16string_view directory, std::u16string_view name,
                         std::uint64_t size, const std::optional<platform::PreciseFacts>& facts) {
    if (items_.size() >= std::numeric_limits<std::uint32_t>::max() ||
        name.size() > std::numeric_limits<char16_t>::max())
        throw std::bad_alloc();
    // The walk lists a directory's files one after another.
    if (directories_.empty() ||
        text_at(directories_.back().at, directories_.back().length) != directory)
        directories_.push_back({store(directory), static_cast<std::uint32_t>(directory.size())});
    std::u16string counted(1, static_cast<char16_t>(name.size()));
    counted += name;
    const Place at = store(counted);
    if (facts && facts->links > 1)
        linked_.push_back(
            {static_cast<std::uint32_t>(items_.size()), {facts->device, facts->inode}});
    items_.push_back({size, static_cast<std::uint32_t>(directories_.size() - 1), at + 1});
}

DupeCandidates::Identity DupeCandidates::identity(std::size_t i) const {
    const auto at = std::lower_bound(linked_.begin(), linked_.end(), i,
                                     [](const Linked& l, std::size_t k) { return l.item < k; });
    if (at != linked_.end() && at->item == i) return at->identity;
    // No device number is all ones, so no file with several names has it.
    return {std::numeric_limits<std::uint64_t>::max(), i};
}

std::u16string_view DupeCandidates::directory(std::size_t i) const {
    const Directory& d = directories_[items_[i].directory];
    return text_at(d.at, d.length);
}

std::u16string_view DupeCandidates::name(std::size_t i) const {
    const Place at = items_[i].name;
    return text_at(at, *text_at(at - 1, 1).data());
}

std::u16string DupeCandidates::path(std::size_t i) const {
    std::u16string p(directory(i));
    p += name(i);
    return p;
}

bool DupeCandidates::path_before(std::size_t a, std::size_t b) const {
    if (items_[a].directory == items_[b].directory) return name(a) < name(b);
    const std::u16string_view da = directory(a), db = directory(b);
    const std::u16string_view na = name(a), nb = name(b);
    // Compare the whole paths without building them.
    const std::size_t la = da.size() + na.size(), lb = db.size() + nb.size();
    for (std::size_t k = 0; k < la && k < lb; ++k) {
        const char16_t ca = k < da.size() ? da[k] : na[k - da.size()];
        const char16_t cb = k < db.size() ? db[k] : nb[k - db.size()];
        if (ca != cb) return ca < cb;
    }
    return la < lb;
}

void DupeCandidates::release() {
    std::vector<std::unique_ptr<char16_t[]>>().swap(blocks_);
    used_ = 0;
    std::vector<Directory>().swap(directories_);
    std::vector<Item>().swap(items_);
    std::vector<Linked>().swap(linked_);
}

}  // namespace filarix
