// The fields of an earlier row, listed once: storing a row, reading it
// back and emptying it for the next one all walk this list, so a field of
// EarlierEntry is one line here.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/earlier_entry.hpp"

namespace filarix {

// Calls the codec for each field in the order rows are stored: `path`,
// `digests`, `word` (a text of few values), `time` (an ISO 8601 text),
// `text`, `flag` and `number`.
// The path and the digests come first: lookups read them alone.
template <typename Codec, typename Entry>
void each_field(Codec& c, Entry& e) {
    c.path(e.path);
    c.digests(e.digests);
    c.word(e.kind);
    c.flag(e.relative_path);
    c.number(e.size);
    c.time(e.modified);
    c.word(e.attributes);
    c.word(e.owner);
    c.text(e.target);
    c.number(e.modified_ns);
    c.number(e.change_time_ns);
    c.number(e.device);
    c.number(e.inode);
    c.number(e.links);
}

// Empties every field, keeping the storage of the texts for the next row.
struct FieldClearer {
    void path(std::string& t) { t.clear(); }
    void digests(std::array<std::string, digest_count>& d) {
        for (std::string& t : d) t.clear();
    }
    void word(std::string& t) { t.clear(); }
    void time(std::string& t) { t.clear(); }
    void text(std::string& t) { t.clear(); }
    void flag(bool& b) { b = false; }
    template <typename T>
    void number(std::optional<T>& n) {
        n.reset();
    }
};

inline void clear_fields(EarlierEntry& e) {
    FieldClearer c;
    each_field(c, e);
}

}  // namespace filarix
