// The fields of an earlier row, listed once: storing a row, reading it
// back and emptying it for the next one all walk this list, so a field of
// EarlierEntry is one line here.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/earlier_entry.hpp"

namespace filarix {

// The numbers rows of one directory mostly share the leading digits of:
// held once for a group of rows.
enum GroupBase : std::size_t { base_modified, base_device, base_inode, group_bases };

// Calls the codec for each field in the order rows are stored: `path`,
// `digests`, `word` (a text of few values), `time` (an ISO 8601 text),
// `text`, `flag`, `number`, `later` (a number held as its difference
// from another, read before it) and `near` (a number held as its
// difference from that of the first row of its group, one of three bases).
// The path and the digests come first: lookups read them alone.
template <typename Codec, typename Entry>
void each_field(Codec& c, Entry& e) {
    c.path(e.path);
    c.digests(e.digests);
    c.word(e.kind);
    c.flag(e.relative_path);
    c.number(e.size);
    // The write time at full precision comes first: the change time and
    // the write time's text are mostly held as what differs from it.
    c.near(e.modified_ns, base_modified);
    c.later(e.change_time_ns, e.modified_ns);
    c.time(e.modified, e.modified_ns);
    c.word(e.attributes);
    c.word(e.owner);
    c.text(e.target);
    c.near(e.device, base_device);
    c.near(e.inode, base_inode);
    c.number(e.links);
}

// Empties every field, keeping the storage of the texts for the next row.
struct FieldClearer {
    void path(std::string& t) { t.clear(); }
    void digests(std::array<std::string, digest_count>& d) {
        for (std::string& t : d) t.clear();
    }
    void word(std::string& t) { t.clear(); }
    template <typename Base>
    void time(std::string& t, const Base&) {
        t.clear();
    }
    void text(std::string& t) { t.clear(); }
    void flag(bool& b) { b = false; }
    template <typename T>
    void number(std::optional<T>& n) {
        n.reset();
    }
    template <typename T, typename Base>
    void later(std::optional<T>& n, const Base&) {
        n.reset();
    }
    template <typename T>
    void near(std::optional<T>& n, GroupBase) {
        n.reset();
    }
};

inline void clear_fields(EarlierEntry& e) {
    FieldClearer c;
    each_field(c, e);
}

}  // namespace filarix
