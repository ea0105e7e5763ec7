// The rows of an earlier catalogue held for lookups by their exact path
// bytes: what --DIFF and --REUSE look an entry of the walk up in. The first
// row of a path is the one kept.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/earlier_entry.hpp"

namespace filarix {

class EarlierRows {
public:
    // Takes a row; false (and nothing kept) for a path already held.
    bool add(EarlierEntry entry);
    std::size_t size() const { return rows_.size(); }
    // The index of the path's row, in the order rows were added.
    std::optional<std::size_t> find(std::string_view path) const;
    // The row as it was added.
    EarlierEntry row(std::size_t index) const { return rows_[index]; }

private:
    std::vector<EarlierEntry> rows_;
    std::unordered_map<std::string, std::size_t> by_path_;
};

}  // namespace filarix
