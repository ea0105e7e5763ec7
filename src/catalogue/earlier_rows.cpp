#include "catalogue/earlier_rows.hpp"

namespace filarix {

bool EarlierRows::add(EarlierEntry entry) {
    const auto [at, fresh] = by_path_.try_emplace(entry.path, rows_.size());
    if (!fresh) return false;
    rows_.push_back(std::move(entry));
    return true;
}

std::optional<std::size_t> EarlierRows::find(std::string_view path) const {
    const auto at = by_path_.find(std::string(path));
    if (at == by_path_.end()) return std::nullopt;
    return at->second;
}

}  // namespace filarix
