// The running count of --TREESIZE: the files the listing has listed so far
// and their bytes. A directory's totals are the difference across its
// subtree, so the walk keeps no count per level.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_set>
#include <utility>

namespace filarix {

struct TreeCount {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;

    TreeCount operator-(const TreeCount& earlier) const {
        return {files - earlier.files, bytes - earlier.bytes};
    }
    bool operator==(const TreeCount&) const = default;
};

// A file of several names is counted at the first name the run meets, as
// du does; only such files are remembered.
class TreeTotals {
public:
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t links = 0;
    };

    void add_file(std::uint64_t size, const Identity* identity) {
        if (identity && identity->links > 1 &&
            !seen_.insert({identity->device, identity->inode}).second)
            return;
        ++count_.files;
        count_.bytes += size;
    }
    TreeCount so_far() const { return count_; }

private:
    struct Hash {
        std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& k) const {
            return std::hash<std::uint64_t>{}(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
        }
    };
    TreeCount count_;
    std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, Hash> seen_;
};

}  // namespace filarix
