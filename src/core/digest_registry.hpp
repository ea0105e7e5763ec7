// The digests the program knows, one row each: what the settings, the help,
// the columns, the known sets and the digest engine need to know of one.
// A new digest is a row here plus its kernel in the content layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/run_settings.hpp"

namespace filarix {

// In the order of the record's columns.
enum class DigestId : std::uint8_t { crc, md5, sha1, sha256, sha512, sha3 };
inline constexpr std::size_t digest_count = 6;

struct DigestRow {
    DigestId id;
    std::string_view name;               // as messages name it: "SHA-256"
    std::string_view option;             // the long option and INI key: "SHA2"
    std::string_view alias;              // another long option for it; none when empty
    bool option_prefix;                  // the long option may go on: --SHA256 is --SHA2
    bool help_group;                     // named on the help's line of the longer digests
    std::int32_t RunSettings::*setting;  // the switch that asks for it
    std::size_t bytes;                   // of the digest itself
    int width;                           // its column's text, blanks before short digits
    std::string_view failure_text;       // fills the column when the file cannot be read
    const char* field;                   // its CSV and JSON field
    const char* title;                   // its column header; none when empty
    int title_width;
    bool known_set;  // a --HASHSET list may hold it (told apart by length)
};

inline constexpr std::size_t digest_index(DigestId id) {
    return static_cast<std::size_t>(id);
}

const DigestRow& digest_row(DigestId id);
// Every row, in the column order.
const DigestRow* digest_rows_begin();
const DigestRow* digest_rows_end();
struct DigestRows {
    const DigestRow* begin() const { return digest_rows_begin(); }
    const DigestRow* end() const { return digest_rows_end(); }
};
inline constexpr DigestRows digest_rows{};

// The digests of a record or a request, one bit each.
class DigestSet {
public:
    constexpr DigestSet() = default;
    constexpr DigestSet(std::initializer_list<DigestId> ids) {
        for (DigestId id : ids) add(id);
    }
    constexpr void add(DigestId id) { bits_ |= bit(id); }
    constexpr bool has(DigestId id) const { return (bits_ & bit(id)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr unsigned bits() const { return bits_; }
    constexpr static unsigned bit(DigestId id) { return 1u << digest_index(id); }
    constexpr bool operator==(const DigestSet&) const = default;

private:
    unsigned bits_ = 0;
};

// The digests the settings ask to show.
DigestSet shown_digests(const RunSettings& s);

// The digest a long option (in capitals, without its dashes) asks for.
const DigestRow* digest_of_long_option(std::u16string_view upper);
// The digest an INI key asks for: the longest option the line begins with.
const DigestRow* digest_of_ini_line(std::string_view upper);

// The digest a known set holds when its lines have this many hexadecimal
// digits; none for other lengths.
std::optional<DigestId> known_digest_of_hex_length(std::size_t digits);

}  // namespace filarix
