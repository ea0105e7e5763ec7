#include "core/dupe_candidates.hpp"

#include <limits>

namespace filarix {

void DupeCandidates::add(std::u16string_view directory, std::u16string_view name,
                         std::uint64_t size, const std::optional<platform::PreciseFacts>& facts) {
    // The walk lists a directory's files one after another.
    if (directories_.empty() ||
        std::u16string_view(text_).substr(directories_.back().at, directories_.back().length) !=
            directory) {
        directories_.push_back({text_.size(), directory.size()});
        text_ += directory;
    }
    Item item{size,
              0,
              0,
              text_.size(),
              static_cast<std::uint32_t>(directories_.size() - 1),
              static_cast<std::uint32_t>(name.size())};
    if (facts) {
        item.device = facts->device;
        item.inode = facts->inode;
    } else {
        // Unknown identity: a file of its own.
        item.device = std::numeric_limits<std::uint64_t>::max();
        item.inode = items_.size();
    }
    text_ += name;
    items_.push_back(item);
}

std::u16string_view DupeCandidates::directory(std::size_t i) const {
    const Span& d = directories_[items_[i].directory];
    return std::u16string_view(text_).substr(d.at, d.length);
}

std::u16string_view DupeCandidates::name(std::size_t i) const {
    return std::u16string_view(text_).substr(items_[i].name_at, items_[i].name_length);
}

std::u16string DupeCandidates::path(std::size_t i) const {
    std::u16string p(directory(i));
    p += name(i);
    return p;
}

bool DupeCandidates::path_before(std::size_t a, std::size_t b) const {
    const std::u16string_view da = directory(a), db = directory(b);
    if (items_[a].directory == items_[b].directory) return name(a) < name(b);
    // Compare the whole paths without building them.
    const std::u16string_view na = name(a), nb = name(b);
    const std::size_t la = da.size() + na.size(), lb = db.size() + nb.size();
    for (std::size_t k = 0; k < la && k < lb; ++k) {
        const char16_t ca = k < da.size() ? da[k] : na[k - da.size()];
        const char16_t cb = k < db.size() ? db[k] : nb[k - db.size()];
        if (ca != cb) return ca < cb;
    }
    return la < lb;
}

void DupeCandidates::release() {
    std::u16string().swap(text_);
    std::vector<Span>().swap(directories_);
    std::vector<Item>().swap(items_);
}

}  // namespace filarix
