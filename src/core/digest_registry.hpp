// The digests the program knows, one row each: what the settings, the help,
// the columns, the known sets and the digest engine need to know of one.
// A new digest is a row here plus its kernel in the content layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/digest_set.hpp"
#include "core/run_settings.hpp"

namespace filarix {

struct DigestRow {
    DigestId id;
    std::string_view name;          // as messages name it: "SHA-256"
    std::string_view option;        // the long option and INI key: "SHA2"
    std::string_view alias;         // another long option for it; none when empty
    bool option_prefix;             // the long option may go on: --SHA256 is --SHA2
    bool help_group;                // named on the help's line of the longer digests
    std::size_t bytes;              // of the digest itself
    int width;                      // its column's text, blanks before short digits
    std::string_view failure_text;  // fills the column when the file cannot be read
    const char* field;              // its CSV and JSON field
    const char* title;              // its column header; none when empty
    int title_width;
    bool known_set;  // a --HASHSET list of bare digits may hold it (told apart by length)
    // The name a tagged checksum line gives it: "SHA256 (name) = digits";
    // such a line names its digest in a --HASHSET list too.
    std::string_view sum_tag;
    // The higher proves more: where two catalogues share several digests,
    // the strongest decides.
    int strength;
};

const DigestRow& digest_row(DigestId id);
// Every row, in the column order.
const DigestRow* digest_rows_begin();
const DigestRow* digest_rows_end();
struct DigestRows {
    const DigestRow* begin() const { return digest_rows_begin(); }
    const DigestRow* end() const { return digest_rows_end(); }
};
inline constexpr DigestRows digest_rows{};

// The digests the settings ask to show.
inline DigestSet shown_digests(const RunSettings& s) {
    return s.digests;
}

// The digest a long option (in capitals, without its dashes) asks for.
const DigestRow* digest_of_long_option(std::u16string_view upper);
// The digest an INI key asks for: the longest option the line begins with.
const DigestRow* digest_of_ini_line(std::string_view upper);

// The digest a known set holds when its lines have this many hexadecimal
// digits; none for other lengths.
std::optional<DigestId> known_digest_of_hex_length(std::size_t digits);
// The digest a tagged checksum line names; none for other tags.
const DigestRow* digest_of_sum_tag(std::string_view tag);
// The digest of a CSV or JSON field name; none for other names.
const DigestRow* digest_of_field(std::string_view name);

}  // namespace filarix
