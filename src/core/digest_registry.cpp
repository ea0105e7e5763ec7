#include "core/digest_registry.hpp"

namespace filarix {

namespace {

constexpr std::string_view locked_64 =
    "-------------- ERROR - FILE POSSIBLY LOCKED BY OS --------------";

// MD5's 32 digits stand in a column as wide as SHA-1's.
constexpr DigestRow rows[] = {
    {DigestId::crc, "CRC-32", "CRC", "", true, false, 4, 10, "CRCERROR", "crc", "  CRC", 8, false,
     "", 0},
    {DigestId::md5, "MD5", "HASH", "MD5", false, false, 16, 40, "- ERROR - FILE POSSIBLY LOCKED -",
     "md5", "  MD5 HASH", 40, true, "MD5", 2},
    {DigestId::sha1, "SHA-1", "SHA", "SHA1", false, false, 20, 40,
     "-- ERROR - FILE POSSIBLY LOCKED BY OS --", "sha1", "", 0, true, "SHA1", 3},
    {DigestId::sha256, "SHA-256", "SHA2", "", true, true, 32, 64, locked_64, "sha256",
     "  SHA-256 HASH", 64, true, "SHA256", 4},
    {DigestId::sha512, "SHA-512", "SHA5", "", true, true, 64, 128,
     "---------------------------------------------- ERROR - FILE POSSIBLY LOCKED BY OS "
     "----------------------------------------------",
     "sha512", "  SHA-512 HASH", 128, true, "SHA512", 7},
    {DigestId::sha3, "SHA3-256", "SHA3", "", true, true, 32, 64, locked_64, "sha3_256",
     "  SHA3-256 HASH", 64, false, "SHA3-256", 6},
    // A fingerprint, not a security digest: above CRC-32 only. Its digits
    // are as many as MD5's, so a set of bare digits never means it.
    {DigestId::xxh3, "XXH3-128", "XXH3", "", false, false, 16, 32,
     "- ERROR - FILE POSSIBLY LOCKED -", "xxh3", "  XXH3-128", 32, false, "XXH128", 1},
    // As strong as SHA-256 and as long: a set of bare 64-digit lines stays
    // SHA-256's, so a BLAKE3 set is written as tagged lines.
    {DigestId::blake3, "BLAKE3", "BLAKE3", "", false, false, 32, 64, locked_64, "blake3",
     "  BLAKE3 HASH", 64, false, "BLAKE3", 5},
};
static_assert(std::size(rows) == digest_count);

constexpr bool rows_in_order() {
    for (std::size_t i = 0; i < digest_count; ++i) {
        if (digest_index(rows[i].id) != i) return false;
        // The failure text keeps a record's width.
        if (rows[i].failure_text.size() != 2 * rows[i].bytes) return false;
    }
    return true;
}
static_assert(rows_in_order());

}  // namespace

const DigestRow& digest_row(DigestId id) {
    return rows[digest_index(id)];
}
const DigestRow* digest_rows_begin() {
    return rows;
}
const DigestRow* digest_rows_end() {
    return rows + digest_count;
}

namespace {

// Whether a text in capitals begins with an ASCII word, or is it.
bool begins_with(std::u16string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (text[i] != static_cast<unsigned char>(word[i])) return false;
    return true;
}

}  // namespace

const DigestRow* digest_of_long_option(std::u16string_view upper) {
    for (const DigestRow& row : rows) {
        for (const std::string_view word : {row.option, row.alias}) {
            if (word.empty() || !begins_with(upper, word)) continue;
            if (row.option_prefix || upper.size() == word.size()) return &row;
        }
    }
    return nullptr;
}

const DigestRow* digest_of_ini_line(std::string_view upper) {
    const DigestRow* found = nullptr;
    for (const DigestRow& row : rows)
        if (upper.starts_with(row.option) && (!found || row.option.size() > found->option.size()))
            found = &row;
    return found;
}

std::optional<DigestId> known_digest_of_hex_length(std::size_t digits) {
    for (const DigestRow& row : rows)
        if (row.known_set && 2 * row.bytes == digits) return row.id;
    return std::nullopt;
}

const DigestRow* digest_of_sum_tag(std::string_view tag) {
    for (const DigestRow& row : rows)
        if (!row.sum_tag.empty() && row.sum_tag == tag) return &row;
    return nullptr;
}

const DigestRow* digest_of_field(std::string_view name) {
    for (const DigestRow& row : rows)
        if (name == row.field) return &row;
    return nullptr;
}

}  // namespace filarix
