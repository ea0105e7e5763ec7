#include "catalogue/duplicate_groups.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

namespace filarix {

namespace {

// A file among the candidates of one size: its names are order[begin, end).
// Kept small, since one size may be shared by very many files.
struct Unit {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::uint64_t sample = 0;
    std::unique_ptr<HeldDigests> digests;
};

// Runs of equal keys, two units or more, each handed on.
template <typename Key, typename Each>
void split_runs(std::vector<Unit>& units, Key key, Each each) {
    std::sort(units.begin(), units.end(),
              [&](const Unit& a, const Unit& b) { return key(a) < key(b); });
    std::size_t i = 0;
    while (i < units.size()) {
        std::size_t j = i + 1;
        while (j < units.size() && key(units[j]) == key(units[i])) ++j;
        if (j - i >= 2)
            each(std::vector<Unit>(std::make_move_iterator(units.begin() + std::ptrdiff_t(i)),
                                   std::make_move_iterator(units.begin() + std::ptrdiff_t(j))));
        i = j;
    }
}

void group_one_size(std::uint64_t size, const std::vector<std::uint32_t>& order,
                    std::vector<Unit>& units, const DupeReads& reads,
                    std::vector<DupeGroup>& groups) {
    const auto digest_all = [&](std::vector<Unit> part) {
        std::vector<Unit> read;
        for (Unit& u : part)
            if (auto d = reads.digests(order[u.begin])) {
                u.digests = std::make_unique<HeldDigests>(std::move(*d));
                read.push_back(std::move(u));
            }
        const std::size_t at = digest_index(reads.decisive);
        split_runs(
            read, [at](const Unit& u) -> const std::string& { return (*u.digests)[at]; },
            [&](std::vector<Unit> same) {
                DupeGroup g;
                g.size = size;
                for (Unit& u : same) {
                    DupeFile f;
                    f.names.assign(order.begin() + u.begin, order.begin() + u.end);
                    f.digests = std::move(*u.digests);
                    g.files.push_back(std::move(f));
                }
                groups.push_back(std::move(g));
            });
    };
    if (size <= dupe_sample_bytes) {
        digest_all(std::move(units));
        return;
    }
    std::vector<Unit> sampled;
    for (Unit& u : units)
        if (const auto s = reads.sample(order[u.begin])) {
            u.sample = *s;
            sampled.push_back(std::move(u));
        }
    split_runs(
        sampled, [](const Unit& u) { return u.sample; }, digest_all);
}

}  // namespace

void find_duplicate_groups(const DupeCandidates& c, const DupeReads& reads,
                           const std::function<void(std::vector<DupeGroup>&)>& found) {
    std::vector<std::uint32_t> order;
    for (std::size_t i = 0; i < c.count(); ++i)
        if (c.size(i) != 0) order.push_back(static_cast<std::uint32_t>(i));
    // Largest first; the names of one file side by side.
    std::sort(order.begin(), order.end(), [&c](std::uint32_t a, std::uint32_t b) {
        return std::make_tuple(c.size(b), c.device(a), c.inode(a), a) <
               std::make_tuple(c.size(a), c.device(b), c.inode(b), b);
    });
    std::size_t i = 0;
    std::vector<DupeGroup> groups;
    while (i < order.size()) {
        const std::uint64_t size = c.size(order[i]);
        std::size_t j = i + 1;
        while (j < order.size() && c.size(order[j]) == size) ++j;
        std::vector<Unit> units;
        for (std::size_t k = i; k < j; ++k) {
            const std::uint32_t n = order[k];
            if (units.empty() || c.device(order[k - 1]) != c.device(n) ||
                c.inode(order[k - 1]) != c.inode(n))
                units.push_back(
                    {static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k), 0, {}});
            units.back().end = static_cast<std::uint32_t>(k + 1);
        }
        i = j;
        // A size only one file has, however many names: never read.
        if (units.size() < 2) continue;
        groups.clear();
        group_one_size(size, order, units, reads, groups);
        if (!groups.empty()) found(groups);
    }
}

std::uint64_t sample_hash(const unsigned char* bytes, std::size_t length, std::uint64_t seed) {
    std::uint64_t h = seed ^ (length * 0x9E3779B97F4A7C15ull);
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, bytes + i, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    for (; i < length; ++i) h = (h ^ bytes[i]) * 0x100000001B3ull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
}

}  // namespace filarix
