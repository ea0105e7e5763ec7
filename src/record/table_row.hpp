// One row of a CSV (RFC 4180) or JSON Lines listing: the fields a record,
// a stream line or a ZIP member line holds, written for other programs to
// read without guessing. Names are exact (quoting carries every character),
// times are ISO 8601 with their offset, sizes bare integers.
//
// Every text is UTF-8. A name whose bytes are not valid UTF-8, or that holds
// a NUL (only a ZIP member's can), is shown with U+FFFD for each byte outside
// a valid character and for each NUL, and its exact bytes follow in
// `path_bytes` as lowercase hex (CSV: empty for every other name; JSON: the
// key is present only then). A NUL is never written: a CSV reader would end
// the field there. A link's row ends with its `target`, which is likewise
// empty or absent in every other row.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

class TableRow {
public:
    // Text that is UTF-8 already or is made so.
    void text(Field f, std::string_view bytes);
    // A name in the program's form; the path adds its bytes when they are
    // not valid UTF-8.
    void name(Field f, const platform::PathSyntax& syntax, std::u16string_view name);
    void number(Field f, std::int64_t n);
    void number(Field f, std::uint64_t n);
    // Leaves the field empty (CSV) or null (JSON).
    void clear(Field f) { values_[static_cast<std::size_t>(f)] = Value{}; }
    // A time from iso_time; none (empty) leaves the field empty or null.
    void time(Field f, const std::string& iso) {
        if (!iso.empty()) text(f, iso);
    }

    // A field's text as the row holds it; null when it is not set.
    const std::string* value(Field f) const {
        const Value& v = values_[static_cast<std::size_t>(f)];
        return v.set ? &v.text : nullptr;
    }

    // The row's exact bytes with its line end, as the run's format writes it.
    std::string render(const Run& run) const;
    void write(Run& run, OutStream& out) const { out.put_exact(render(run)); }

private:
    struct Value {
        std::string text;
        bool set = false;
        bool is_number = false;
    };
    std::array<Value, field_count> values_{};
};

// A file time as ISO 8601 with milliseconds and its offset ("Z" in UTC);
// empty for a time the file system never set.
std::string iso_time(Run& run, platform::FileTicks raw, bool zulu);
// A time without a zone (a ZIP member's DOS time), seconds as stored.
std::string iso_local_time(int year, int month, int day, int hour, int minute, int second);

// Valid UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool is_valid_utf8(std::string_view bytes);
// Each byte outside a valid character, and each NUL, becomes U+FFFD.
std::string repaired_utf8(std::string_view bytes);

// The header row that leads a CSV listing (and each of its split parts).
void write_table_header(Run& run, OutStream& out);

}  // namespace filarix
