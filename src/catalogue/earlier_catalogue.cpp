#include "catalogue/earlier_catalogue.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "catalogue/earlier_fields.hpp"
#include "core/run_end.hpp"

namespace filarix {

namespace {

constexpr std::size_t chunk_size = 1 << 18;

// Where a field of a listing's row goes; the digests follow the others.
enum Slot : int {
    ignored = -1,
    slot_kind,
    slot_path,
    slot_path_bytes,
    slot_size,
    slot_modified,
    slot_attributes,
    slot_owner,
    slot_target,
    slot_modified_ns,
    slot_change_time_ns,
    slot_device,
    slot_inode,
    slot_links,
    slot_digest,
};

int slot_of(std::string_view name) {
    static constexpr std::pair<std::string_view, int> named[] = {
        {"kind", slot_kind},
        {"path", slot_path},
        {"path_bytes", slot_path_bytes},
        {"size", slot_size},
        {"modified", slot_modified},
        {"attributes", slot_attributes},
        {"owner", slot_owner},
        {"target", slot_target},
        {"modified_ns", slot_modified_ns},
        {"change_time_ns", slot_change_time_ns},
        {"device", slot_device},
        {"inode", slot_inode},
        {"links", slot_links},
    };
    for (const auto& [text, slot] : named)
        if (name == text) return slot;
    if (const DigestRow* row = digest_of_field(name))
        return slot_digest + static_cast<int>(digest_index(row->id));
    return ignored;
}

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

// A digest as the compare keeps it: upper-case hexadecimal of the
// digest's own length; anything else (a failure text, blanks) is none.
// Written into `out`, whose storage a row read before leaves there.
void assign_digest(std::string& out, DigestId id, std::string_view value) {
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    out.clear();
    if (value.size() != 2 * digest_row(id).bytes) return;
    out.assign(value);
    for (char& c : out) {
        if (!is_hex(c)) {
            out.clear();
            return;
        }
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
}

std::string digest_text(DigestId id, std::string_view value) {
    std::string out;
    assign_digest(out, id, value);
    return out;
}

// The value of eight decimal digits read as one little-endian word; false
// when one of them is no digit.
inline bool eight_digits(const char* p, std::uint64_t& out) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0u;
    if (((word & high) | (((word + 0x0606060606060606u) & high) >> 4)) != 0x3333333333333333u)
        return false;
    word -= 0x3030303030303030u;
    word = word * 10 + (word >> 8);
    out = (((word & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
           (((word >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
          32;
    return true;
}

// The digits of an integer field, with a minus sign where the type may be
// negative; what std::from_chars takes, without its cost per call, which
// is most of a row's for the numbers a listing holds.
template <typename Integer>
[[gnu::always_inline]] inline bool parse_integer(std::string_view text, Integer& out) {
    std::size_t i = 0;
    bool negative = false;
    if constexpr (std::is_signed_v<Integer>) {
        negative = !text.empty() && text.front() == '-';
        i = negative ? 1 : 0;
    }
    if (i == text.size()) return false;
    // Nineteen digits always fit in 64 bits; leading zeros and overflow
    // beyond them go the long way.
    if (text.size() - i > 19) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
        return error == std::errc() && end == text.data() + text.size();
    }
    std::uint64_t n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Eight digits at a time: the nanosecond times are nineteen, and one
        // multiply-add per digit in a chain was the most of their cost.
        for (; text.size() - i >= 8; i += 8) {
            std::uint64_t eight = 0;
            if (!eight_digits(text.data() + i, eight)) return false;
            n = n * 100000000 + eight;
        }
    }
    for (; i < text.size(); ++i) {
        const unsigned digit = static_cast<unsigned char>(text[i]) - 48u;
        if (digit > 9) return false;
        n = n * 10 + digit;
    }
    using Unsigned = std::make_unsigned_t<Integer>;
    const auto most =
        static_cast<std::uint64_t>(std::numeric_limits<Integer>::max()) + (negative ? 1 : 0);
    if (n > most) return false;
    out = negative ? static_cast<Integer>(Unsigned{0} - static_cast<Unsigned>(n))
                   : static_cast<Integer>(n);
    return true;
}

std::optional<std::int64_t> number_of(std::string_view text) {
    std::int64_t n = 0;
    if (!parse_integer(text, n) || n < 0) return std::nullopt;
    return n;
}

// An integer field: empty leaves it absent; anything but digits (and a
// minus sign where the field may be negative) is no value of the field.
template <typename Integer>
bool integer_field(std::string_view text, std::optional<Integer>& out) {
    if (text.empty()) return true;
    Integer n = 0;
    if (!parse_integer(text, n)) return false;
    out = n;
    return true;
}

// Puts one field's value in its place; false when the value cannot be
// what the field holds.
// Made part of each caller: a row calls it for every field, and the call
// itself cost as much as most fields' work.
[[gnu::always_inline]] inline bool set_field(EarlierEntry& entry, int slot, std::string_view value,
                                             bool null) {
    if (slot == ignored || null) return true;
    switch (slot) {
        case slot_kind:
            entry.kind = value;
            return true;
        case slot_path:
            // A name that is not valid UTF-8 comes exactly from path_bytes,
            // whichever of the two the row holds first.
            if (entry.path.empty()) entry.path = value;
            return true;
        case slot_path_bytes:
            return value.empty() || decode_hex(value, entry.path);
        case slot_size:
            entry.size = number_of(value);
            return entry.size.has_value() || value.empty();
        case slot_modified:
            entry.modified = value;
            return true;
        case slot_attributes:
            entry.attributes = value;
            return true;
        case slot_owner:
            entry.owner = value;
            return true;
        case slot_target:
            entry.target = value;
            return true;
        case slot_modified_ns:
            return integer_field(value, entry.modified_ns);
        case slot_change_time_ns:
            return integer_field(value, entry.change_time_ns);
        case slot_device:
            return integer_field(value, entry.device);
        case slot_inode:
            return integer_field(value, entry.inode);
        case slot_links:
            return integer_field(value, entry.links);
        default: {
            const auto id = static_cast<DigestId>(slot - slot_digest);
            assign_digest(entry.digests[digest_index(id)], id, value);
            return true;
        }
    }
}

// The fields of one CSV record, quotes taken off; false when a quote is
// not closed or stray text follows one.
bool split_csv(std::string_view line, std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    std::size_t i = 0;
    for (;;) {
        field.clear();
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size()) return false;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < line.size() && line[i] != ',') return false;
        } else {
            const std::size_t end = std::min(line.find(',', i), line.size());
            field.assign(line.substr(i, end - i));
            if (field.find('"') != std::string::npos) return false;
            i = end;
        }
        fields.push_back(field);
        if (i >= line.size()) return true;
        ++i;  // the comma
    }
}

// Where a field's text is in the line.
struct FieldSpan {
    std::uint32_t start;
    std::uint32_t size;
};

enum class PlainSplit { split, quoted, too_many };

// 0x80 in each byte of `word` that is `c`, and no other bit.
inline std::uint64_t bytes_equal(std::uint64_t word, unsigned char c) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Fu;
    const std::uint64_t x = word ^ (ones * c);
    return ~(((x & low7) + low7) | x | low7);
}

// The fields of a row that holds no quote, found eight bytes at a time:
// a listing quotes only the rare name with a comma, quote or line end, and
// the byte-at-a-time split of the others was most of a row's reading.
// `quoted` for a line with a quote anywhere, which the full split takes.
template <std::size_t Most>
PlainSplit split_plain_csv(std::string_view line, std::array<FieldSpan, Most>& fields,
                           std::size_t& count) {
    const char* p = line.data();
    const std::size_t n = line.size();
    std::size_t start = 0;
    count = 0;
    const auto field_to = [&](std::size_t end) {
        if (count == Most) return false;
        fields[count++] = {static_cast<std::uint32_t>(start),
                           static_cast<std::uint32_t>(end - start)};
        start = end + 1;
        return true;
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time where every x86-64 compiler offers it.
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i comma = _mm_set1_epi8(',');
    for (; i + 16 <= n; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(block, quote)) != 0) return PlainSplit::quoted;
        for (auto commas = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, comma)));
             commas != 0; commas &= commas - 1)
            if (!field_to(i + static_cast<std::size_t>(std::countr_zero(commas))))
                return PlainSplit::too_many;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (bytes_equal(word, '"') != 0) return PlainSplit::quoted;
            for (std::uint64_t commas = bytes_equal(word, ','); commas != 0; commas &= commas - 1)
                if (!field_to(i + static_cast<std::size_t>(std::countr_zero(commas)) / 8))
                    return PlainSplit::too_many;
        }
    }
    for (; i < n; ++i) {
        if (p[i] == '"') return PlainSplit::quoted;
        if (p[i] == ',' && !field_to(i)) return PlainSplit::too_many;
    }
    return field_to(n) ? PlainSplit::split : PlainSplit::too_many;
}

// The same for a row, without a string per field: a field without quotes
// is a view of the line, a quoted one a view of `unquoted`, which holds it
// with its quotes taken off.
bool split_csv_views(std::string_view line, std::vector<std::string_view>& fields,
                     std::string& unquoted) {
    fields.clear();
    unquoted.clear();
    // Never longer than the line: the views into it stay valid.
    unquoted.reserve(line.size());
    std::size_t i = 0;
    for (;;) {
        if (i < line.size() && line[i] == '"') {
            const std::size_t start = unquoted.size();
            ++i;
            for (;;) {
                const std::size_t quote = line.find('"', i);
                if (quote == std::string_view::npos) return false;
                unquoted.append(line.substr(i, quote - i));
                i = quote + 1;
                if (i < line.size() && line[i] == '"') {
                    unquoted += '"';
                    ++i;
                    continue;
                }
                break;
            }
            if (i < line.size() && line[i] != ',') return false;
            fields.emplace_back(unquoted.data() + start, unquoted.size() - start);
        } else {
            std::size_t end = i;
            for (; end < line.size() && line[end] != ','; ++end)
                if (line[end] == '"') return false;
            fields.push_back(line.substr(i, end - i));
            i = end;
        }
        if (i >= line.size()) return true;
        ++i;  // the comma
    }
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A small reader of the one kind of JSON a listing holds: one object per
// line whose values are strings, numbers or null.
class JsonLine {
public:
    explicit JsonLine(std::string_view text) : text_(text) {}

    template <typename Visit>
    bool each_member(Visit visit) {
        space();
        if (!take('{')) return false;
        space();
        if (take('}')) return end();
        for (;;) {
            std::string key;
            std::string value;
            bool null = false;
            space();
            if (!string(key)) return false;
            space();
            if (!take(':')) return false;
            space();
            if (!scalar(value, null)) return false;
            if (!visit(key, value, null)) return false;
            space();
            if (take('}')) return end();
            if (!take(',')) return false;
        }
    }

private:
    bool end() {
        space();
        return at_ == text_.size();
    }
    void space() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
    }
    bool take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool scalar(std::string& value, bool& null) {
        if (at_ < text_.size() && text_[at_] == '"') return string(value);
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '}' && text_[at_] != ' ')
            ++at_;
        value.assign(text_.substr(start, at_ - start));
        if (value == "null") {
            null = true;
            value.clear();
            return true;
        }
        if (value == "true" || value == "false") return true;
        return !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
            return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' ||
                   c == 'E';
        });
    }
    bool hex4(char32_t& out) {
        if (at_ + 4 > text_.size()) return false;
        out = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[at_++];
            if (!is_hex(c)) return false;
            out = out * 16 + static_cast<char32_t>(hex_value(c));
        }
        return true;
    }
    bool string(std::string& out) {
        if (!take('"')) return false;
        out.clear();
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char e = text_[at_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    char32_t c1 = 0;
                    if (!hex4(c1)) return false;
                    if (c1 >= 0xD800 && c1 <= 0xDBFF) {
                        char32_t c2 = 0;
                        if (!take('\\') || !take('u') || !hex4(c2) || c2 < 0xDC00 || c2 > 0xDFFF)
                            return false;
                        c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
                    } else if (c1 >= 0xDC00 && c1 <= 0xDFFF) {
                        return false;
                    }
                    append_utf8(out, c1);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// md5sum and its kin mark a name holding a backslash or a line end with a
// backslash before the digest and escape those characters in the name.
bool unescape_checksum_name(std::string_view name, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            out += name[i];
            continue;
        }
        if (++i >= name.size()) return false;
        switch (name[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

// A checksum list's name that begins neither at a root nor at a drive.
bool is_relative(const std::string& path) {
    return path.front() != '/' && path.front() != '\\' && !(path.size() > 1 && path[1] == ':');
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// A line of this program's fixed-width listing: its start banner, or a
// record that begins with a right-aligned size.
bool looks_like_text_listing(std::string_view line) {
    if (starts_with(line, "Started ") || starts_with(line, "COMMAND LINE:")) return true;
    std::size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t digits = i;
    while (i < line.size() && ((line[i] >= '0' && line[i] <= '9') || line[i] == ',')) ++i;
    return i > digits && digits > 0 && i < line.size() && line[i] == ' ';
}

}  // namespace

const char* catalogue_format_name(CatalogueFormat format) {
    switch (format) {
        case CatalogueFormat::csv_listing:
            return "CSV listing";
        case CatalogueFormat::jsonl_listing:
            return "JSON Lines listing";
        case CatalogueFormat::checksum_list:
            return "checksum list";
        case CatalogueFormat::hashdeep:
            return "hashdeep file";
        case CatalogueFormat::text_listing:
            return "fixed-width listing";
        case CatalogueFormat::unknown:
            break;
    }
    return "unknown";
}

CatalogueReader::CatalogueReader(ReadBytes read) : read_(std::move(read)) {}

bool CatalogueReader::fill() {
    if (ended_) return false;
    buffer_.erase(0, at_);
    at_ = 0;
    const std::size_t held = buffer_.size();
    buffer_.resize(held + chunk_size);
    const std::size_t n = read_(buffer_.data() + held, chunk_size);
    buffer_.resize(held + n);
    if (n == 0) ended_ = true;
    return n > 0;
}

CatalogueReader::LineResult CatalogueReader::read_line(std::string& line, bool csv_quotes,
                                                       std::string_view* whole) {
    line.clear();
    bool quoted = false;
    bool too_long = false;
    bool in_buffer = false;
    for (;;) {
        if (at_ >= buffer_.size() && !fill()) {
            if (line.empty() && !too_long) return LineResult::end;
            line_ended_ = false;
            break;
        }
        const char* begin = buffer_.data() + at_;
        const char* end = buffer_.data() + buffer_.size();
        const char* stop = begin;
        if (csv_quotes) {
            // A line end within quotes is part of a field.
            for (;;) {
                const auto* line_end =
                    static_cast<const char*>(std::memchr(stop, '\n', end - stop));
                const char* limit = line_end ? line_end : end;
                for (const char* q = stop;
                     q != limit && (q = static_cast<const char*>(std::memchr(q, '"', limit - q)));
                     ++q)
                    quoted = !quoted;
                if (!line_end) {
                    stop = end;
                    break;
                }
                if (!quoted) {
                    stop = line_end;
                    break;
                }
                stop = line_end + 1;
            }
        } else {
            stop = std::find(begin, end, '\n');
        }
        if (!too_long && whole && line.empty() && stop != end &&
            static_cast<std::size_t>(stop - begin) <= longest_line) {
            // Most lines lie whole in the buffer: read there, not copied.
            *whole = std::string_view(begin, static_cast<std::size_t>(stop - begin));
            in_buffer = true;
        } else if (!too_long) {
            line.append(begin, stop);
            if (line.size() > longest_line) {
                too_long = true;
                line.clear();
                // A file whose first line never ends is no catalogue: it
                // is not read to its end to tell so.
                if (!started_rows_) return LineResult::too_long;
            }
        }
        at_ += static_cast<std::size_t>(stop - begin);
        if (stop != end) {
            ++at_;  // the line end
            line_ended_ = true;
            break;
        }
    }
    ++line_number_;
    if (in_buffer) {
        std::string_view& view = *whole;
        if (line_number_ == 1 && starts_with(view, "\xEF\xBB\xBF")) view.remove_prefix(3);
        if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
        return LineResult::line;
    }
    if (line_number_ == 1 && starts_with(line, "\xEF\xBB\xBF")) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (whole) *whole = line;
    return too_long ? LineResult::too_long : LineResult::line;
}

void CatalogueReader::skip(std::uint64_t line_number) {
    if (skipped_++ == 0) first_skipped_ = line_number;
}

bool CatalogueReader::parse_csv_header(const std::string& line) {
    std::vector<std::string> names;
    if (!split_csv(line, names) || names.empty() || names[0] != "kind" ||
        names.size() > csv_columns_.size())
        return false;
    bool has_path = false;
    csv_column_count_ = names.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
        csv_columns_[i] = slot_of(names[i]);
        has_path = has_path || csv_columns_[i] == slot_path;
        if (csv_columns_[i] >= slot_digest)
            seen_.add(static_cast<DigestId>(csv_columns_[i] - slot_digest));
    }
    return has_path;
}

bool CatalogueReader::parse_hashdeep_header(const std::string& line) {
    // "%%%% size,md5,sha256,filename": the file name is last and may hold
    // commas of its own.
    std::vector<std::string> names;
    if (!starts_with(line, "%%%% ") || !split_csv(std::string_view(line).substr(5), names) ||
        names.size() < 2 || names.back() != "filename" || names.size() > csv_columns_.size())
        return false;
    csv_column_count_ = names.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
        int slot = ignored;
        if (names[i] == "size") slot = slot_size;
        if (names[i] == "filename") slot = slot_path;
        // hashdeep names its digests as this program's fields do.
        if (const DigestRow* row = digest_of_field(names[i])) {
            slot = slot_digest + static_cast<int>(digest_index(row->id));
            seen_.add(row->id);
        }
        csv_columns_[i] = slot;
    }
    return true;
}

bool CatalogueReader::csv_row(std::string_view line, EarlierEntry& entry) {
    std::array<FieldSpan, std::tuple_size_v<decltype(csv_columns_)>> spans;
    std::size_t count = 0;
    // Lines past 4 GiB never come here: longest_line keeps the spans in range.
    const PlainSplit plain = split_plain_csv(line, spans, count);
    if (plain == PlainSplit::too_many) return false;
    if (plain == PlainSplit::split) {
        if (count != csv_column_count_) return false;
        for (std::size_t i = 0; i < count; ++i)
            if (csv_columns_[i] != ignored &&
                !set_field(entry, csv_columns_[i],
                           std::string_view(line.data() + spans[i].start, spans[i].size), false))
                return false;
        return !entry.kind.empty() && !entry.path.empty();
    }
    thread_local std::vector<std::string_view> fields;
    thread_local std::string unquoted;
    if (!split_csv_views(line, fields, unquoted) || fields.size() != csv_column_count_)
        return false;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!set_field(entry, csv_columns_[i], fields[i], false)) return false;
    return !entry.kind.empty() && !entry.path.empty();
}

bool CatalogueReader::jsonl_row(std::string_view line, EarlierEntry& entry) {
    JsonLine json(line);
    const bool ok =
        json.each_member([&](const std::string& key, const std::string& value, bool null) {
            const int slot = slot_of(key);
            if (slot >= slot_digest) seen_.add(static_cast<DigestId>(slot - slot_digest));
            return set_field(entry, slot, value, null);
        });
    return ok && !entry.kind.empty() && !entry.path.empty();
}

bool CatalogueReader::checksum_row(std::string_view line, EarlierEntry& entry) {
    std::string_view text(line);
    const bool escaped = !text.empty() && text.front() == '\\';
    if (escaped) text.remove_prefix(1);
    std::optional<DigestId> id;
    std::string_view digest;
    std::string_view name;
    const std::size_t open = text.find(" (");
    const std::size_t close = text.rfind(") = ");
    if (open != std::string_view::npos && close != std::string_view::npos && close > open &&
        digest_of_sum_tag(text.substr(0, open))) {
        id = digest_of_sum_tag(text.substr(0, open))->id;
        // The tagged form: "SHA256 (name) = digest".
        name = text.substr(open + 2, close - open - 2);
        digest = text.substr(close + 4);
    } else {
        const std::size_t gap = text.find(' ');
        if (gap == std::string_view::npos || gap + 2 > text.size() ||
            (text[gap + 1] != ' ' && text[gap + 1] != '*'))
            return false;
        digest = text.substr(0, gap);
        name = text.substr(gap + 2);
        // md5sum, sha1sum, sha256sum and sha512sum tell their digest by its
        // length alone, as the known sets do.
        id = known_digest_of_hex_length(digest.size());
    }
    if (!id || name.empty()) return false;
    const std::string value = digest_text(*id, digest);
    if (value.empty()) return false;
    if (escaped) {
        if (!unescape_checksum_name(name, entry.path)) return false;
    } else {
        entry.path = name;
    }
    entry.kind = "file";
    entry.digests[digest_index(*id)] = value;
    entry.relative_path = is_relative(entry.path);
    seen_.add(*id);
    return true;
}

bool CatalogueReader::hashdeep_row(std::string_view line, EarlierEntry& entry) {
    // Every column but the last is a plain field; the name is the rest of
    // the line, commas and all.
    std::string_view rest(line);
    for (std::size_t i = 0; i + 1 < csv_column_count_; ++i) {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) return false;
        if (!set_field(entry, csv_columns_[i], rest.substr(0, comma), false)) return false;
        rest.remove_prefix(comma + 1);
    }
    if (rest.empty()) return false;
    entry.path = rest;
    entry.kind = "file";
    entry.relative_path = is_relative(entry.path);
    return true;
}

bool CatalogueReader::parse_row(std::string_view line, bool last_line_ended, EarlierEntry& entry) {
    clear_fields(entry);
    switch (format_) {
        case CatalogueFormat::csv_listing:
            // A listing ends every row with its line end: a last line without
            // one was cut short, whatever it holds.
            return last_line_ended && csv_row(line, entry);
        case CatalogueFormat::jsonl_listing:
            return last_line_ended && jsonl_row(line, entry);
        case CatalogueFormat::checksum_list:
            return checksum_row(line, entry);
        case CatalogueFormat::hashdeep:
            return hashdeep_row(line, entry);
        case CatalogueFormat::text_listing:
        case CatalogueFormat::unknown:
            break;
    }
    return false;
}

CatalogueFormat CatalogueReader::format() {
    if (started_) return format_;
    started_ = true;
    std::string line;
    for (;;) {
        const LineResult got = read_line(line, false);
        if (got == LineResult::end) return format_;
        if (got == LineResult::too_long) return format_;
        if (line.empty()) continue;
        break;
    }
    started_rows_ = true;
    EarlierEntry entry;
    if (starts_with(line, "kind,")) {
        if (parse_csv_header(line)) format_ = CatalogueFormat::csv_listing;
    } else if (starts_with(line, "{")) {
        format_ = CatalogueFormat::jsonl_listing;
        if (parse_row(line, line_ended_, entry))
            first_row_ = std::move(entry);
        else
            skip(line_number_);
    } else if (starts_with(line, "%%%% HASHDEEP-")) {
        std::string header;
        if (read_line(header, false) == LineResult::line && parse_hashdeep_header(header))
            format_ = CatalogueFormat::hashdeep;
    } else {
        format_ = CatalogueFormat::checksum_list;
        if (parse_row(line, line_ended_, entry))
            first_row_ = std::move(entry);
        else
            format_ = looks_like_text_listing(line) ? CatalogueFormat::text_listing
                                                    : CatalogueFormat::unknown;
    }
    return format_;
}

bool CatalogueReader::next(EarlierEntry& entry) {
    format();
    if (format_ == CatalogueFormat::text_listing || format_ == CatalogueFormat::unknown)
        return false;
    if (first_row_) {
        entry = std::move(*first_row_);
        first_row_.reset();
        return true;
    }
    const bool csv = format_ == CatalogueFormat::csv_listing;
    std::string_view line;
    for (;;) {
        const LineResult got = read_line(line_, csv, &line);
        if (got == LineResult::end) return false;
        if (got == LineResult::too_long) {
            skip(line_number_);
            continue;
        }
        if (line.empty()) continue;
        if (format_ == CatalogueFormat::hashdeep && starts_with(line, "#")) continue;
        if (parse_row(line, line_ended_, entry)) return true;
        skip(line_number_);
    }
}

CatalogueFile::CatalogueFile(platform::System& sys, std::u16string_view path)
    : file_(sys.open_read(path, false)),
      failed_(file_ == nullptr),
      reader_([this, &sys](char* buffer, std::size_t size) -> std::size_t {
          // A catalogue of millions of rows takes a while: Ctrl+C is heard.
          if (sys.interrupted()) end_run(exit_code::user_aborted);
          if (failed_) return 0;
          const long long got = file_->read(buffer, size);
          if (got < 0) failed_ = true;
          return got > 0 ? static_cast<std::size_t>(got) : 0;
      }) {}

void write_lines_passed_over(OutStream& out, const std::string& name, std::uint64_t skipped,
                             std::uint64_t first_line, bool console) {
    if (skipped == 0) return;
    out.printf(console ? "\n  Lines of %s passed over: %llu" : "  Lines of %s passed over: %llu",
               name.c_str(), static_cast<unsigned long long>(skipped));
    if (first_line != 0)
        out.printf(" (the first is line %llu)", static_cast<unsigned long long>(first_line));
    if (!console) out.put('\n');
}

namespace {

// Rows handed over in batches, so that a hand-over costs little beside the
// rows; a few batches are in flight, their entries reused.
class RowPipe {
public:
    static constexpr std::size_t batch_rows = 512;
    static constexpr std::size_t batches = 4;

    explicit RowPipe(CatalogueFile& file) : file_(file) {
        for (auto& b : batch_) b.rows.resize(batch_rows);
        parser_ = std::thread([this] { parse(); });
    }
    ~RowPipe() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        parser_.join();
    }
    RowPipe(const RowPipe&) = delete;
    RowPipe& operator=(const RowPipe&) = delete;

    void each(const std::function<void(std::span<EarlierEntry>)>& take) {
        for (std::size_t n = 0;; ++n) {
            Batch& b = batch_[n % batches];
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return filled_ > n || ended_; });
                if (filled_ <= n) {
                    if (error_) std::rethrow_exception(error_);
                    return;
                }
            }
            take(std::span<EarlierEntry>(b.rows.data(), b.used));
            {
                const std::lock_guard lock(mutex_);
                taken_ = n + 1;
            }
            changed_.notify_all();
        }
    }

private:
    struct Batch {
        std::vector<EarlierEntry> rows;
        std::size_t used = 0;
    };

    void parse() {
        try {
            for (std::size_t n = 0;; ++n) {
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || n < taken_ + batches; });
                    if (stop_) return;
                }
                Batch& b = batch_[n % batches];
                b.used = 0;
                while (b.used < batch_rows && file_.next(b.rows[b.used])) ++b.used;
                const bool last = b.used < batch_rows;
                {
                    const std::lock_guard lock(mutex_);
                    if (b.used != 0) filled_ = n + 1;
                    ended_ = last;
                }
                changed_.notify_all();
                if (last) return;
            }
        } catch (...) {
            const std::lock_guard lock(mutex_);
            error_ = std::current_exception();
            ended_ = true;
            changed_.notify_all();
        }
    }

    CatalogueFile& file_;
    std::array<Batch, batches> batch_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filled_ = 0;  // batches parsed
    std::size_t taken_ = 0;   // batches taken
    bool ended_ = false;
    bool stop_ = false;
    std::exception_ptr error_;
    std::thread parser_;  // last: starts once everything above exists
};

}  // namespace

void read_row_batches(CatalogueFile& file,
                      const std::function<void(std::span<EarlierEntry>)>& take) {
    if (std::thread::hardware_concurrency() < 2) {
        std::vector<EarlierEntry> rows(RowPipe::batch_rows);
        for (;;) {
            std::size_t used = 0;
            while (used < rows.size() && file.next(rows[used])) ++used;
            if (used != 0) take(std::span<EarlierEntry>(rows.data(), used));
            if (used < rows.size()) return;
        }
    }
    RowPipe(file).each(take);
}

void read_rows(CatalogueFile& file, const std::function<void(EarlierEntry&)>& take) {
    read_row_batches(file, [&](std::span<EarlierEntry> rows) {
        for (EarlierEntry& entry : rows) take(entry);
    });
}

}  // namespace filarix
