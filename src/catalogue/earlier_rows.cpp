#include "catalogue/earlier_rows.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

#include "catalogue/earlier_fields.hpp"
#include "platform/platform.hpp"

namespace filarix {

namespace {

std::uint64_t get_varint(const char*& p) {
    std::uint64_t n = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*p++);
        n |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80) return n;
    }
}

// Upper-case hexadecimal of the digest's own length: the form the reader
// gives every digest, held as its bytes.
bool binary_digest(DigestId id, std::string_view hex) {
    return hex.size() == 2 * digest_row(id).bytes &&
           std::all_of(hex.begin(), hex.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

int nibble(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Where a path's directory ends: after its last separator of either kind.
std::size_t directory_length(std::string_view path) {
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] != '/' && path[end - 1] != '\\') --end;
    return end;
}

// A time text as the listings write it, "YYYY-MM-DDTHH:MM:SS[.digits]"
// then "Z", "+HH:MM", "-HH:MM" or nothing, held as numbers: a third of
// its bytes. Any other text is held as written.
struct TimeFields {
    std::int64_t seconds = 0;  // the civil time as written, as if in UTC
    std::uint64_t fraction = 0;
    unsigned digits = 0;  // of the fraction, 0 to 9
    unsigned zone = 0;    // 0 none, 1 "Z", 2 an offset
    std::int64_t offset_minutes = 0;
};

void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool read_digits(std::string_view t, std::size_t at, std::size_t n, std::int64_t& out) {
    if (at + n > t.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        out = out * 10 + (t[i] - '0');
    }
    return true;
}

void put_digits(std::string& out, std::uint64_t n, unsigned width) {
    char digits[20];
    for (unsigned i = width; i-- > 0; n /= 10) digits[i] = static_cast<char>('0' + n % 10);
    out.append(digits, width);
}

void format_time(const TimeFields& f, std::string& out) {
    out.clear();
    const std::int64_t days = f.seconds >= 0 ? f.seconds / 86400 : -((-f.seconds + 86399) / 86400);
    const std::int64_t in_day = f.seconds - days * 86400;
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    civil_from_days(days, year, month, day);
    if (year < 0 || year > 9999) return;
    put_digits(out, static_cast<std::uint64_t>(year), 4);
    out += '-';
    put_digits(out, month, 2);
    out += '-';
    put_digits(out, day, 2);
    out += 'T';
    put_digits(out, static_cast<std::uint64_t>(in_day / 3600), 2);
    out += ':';
    put_digits(out, static_cast<std::uint64_t>(in_day / 60 % 60), 2);
    out += ':';
    put_digits(out, static_cast<std::uint64_t>(in_day % 60), 2);
    if (f.digits != 0) {
        out += '.';
        put_digits(out, f.fraction, f.digits);
    }
    if (f.zone == 1) out += 'Z';
    if (f.zone == 2) {
        const std::int64_t m = f.offset_minutes < 0 ? -f.offset_minutes : f.offset_minutes;
        out += f.offset_minutes < 0 ? '-' : '+';
        put_digits(out, static_cast<std::uint64_t>(m / 60), 2);
        out += ':';
        put_digits(out, static_cast<std::uint64_t>(m % 60), 2);
    }
}

// The minute a time text begins with, "YYYY-MM-DDTHH:MM", as seconds (the
// civil time as if in UTC), when writing it again gives the same text.
std::optional<std::int64_t> minute_seconds(std::string_view t) {
    std::int64_t year, month, day, hour, minute;
    if (!read_digits(t, 0, 4, year) || !read_digits(t, 5, 2, month) || !read_digits(t, 8, 2, day) ||
        !read_digits(t, 11, 2, hour) || !read_digits(t, 14, 2, minute) || t[4] != '-' ||
        t[7] != '-' || t[10] != 'T' || t[13] != ':' || month < 1 || month > 12 || day < 1)
        return std::nullopt;
    // A day past its month's end, an hour past the day's, minutes past the
    // hour would not be written back as they are.
    static constexpr std::int64_t month_days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (day > month_days[month - 1] || (month == 2 && day == 29 && !leap) || hour > 23 ||
        minute > 59)
        return std::nullopt;
    return platform::days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60;
}

// The numbers of a time text, when writing them again gives the same text.
// Rows of one directory mostly share the minute their times begin with: the
// one read last is kept in `minute` and not read again.
std::optional<TimeFields> time_fields(std::string_view t, TimeMinute& minute) {
    if (t.size() < 19 || t[16] != ':') return std::nullopt;
    if (!minute.held || std::memcmp(minute.text.data(), t.data(), minute.text.size()) != 0) {
        const auto seconds = minute_seconds(t);
        if (!seconds) return std::nullopt;
        std::memcpy(minute.text.data(), t.data(), minute.text.size());
        minute.seconds = *seconds;
        minute.held = true;
    }
    std::int64_t second = 0;
    if (!read_digits(t, 17, 2, second) || second > 59) return std::nullopt;
    TimeFields f;
    f.seconds = minute.seconds + second;
    std::size_t at = 19;
    if (at < t.size() && t[at] == '.') {
        std::size_t end = at + 1;
        while (end < t.size() && t[end] >= '0' && t[end] <= '9') ++end;
        std::int64_t fraction = 0;
        if (end == at + 1 || end - at - 1 > 9 || !read_digits(t, at + 1, end - at - 1, fraction))
            return std::nullopt;
        f.digits = static_cast<unsigned>(end - at - 1);
        f.fraction = static_cast<std::uint64_t>(fraction);
        at = end;
    }
    std::int64_t oh = 0, om = 0;
    if (at + 1 == t.size() && t[at] == 'Z') {
        f.zone = 1;
    } else if (at + 6 == t.size() && (t[at] == '+' || t[at] == '-') &&
               read_digits(t, at + 1, 2, oh) && t[at + 3] == ':' && read_digits(t, at + 4, 2, om)) {
        f.zone = 2;
        f.offset_minutes = (t[at] == '-' ? -1 : 1) * (oh * 60 + om);
    } else if (at != t.size()) {
        return std::nullopt;
    }
    // Minutes past the hour and a zero offset with a minus would not be
    // written back as they are.
    if (om > 59 || (f.zone == 2 && f.offset_minutes == 0 && t[at] == '-')) return std::nullopt;
    return f;
}

std::int64_t floor_div(std::int64_t n, std::int64_t d) {
    return n / d - (n % d != 0 && (n < 0) != (d < 0) ? 1 : 0);
}

// The seconds and milliseconds of a write time at full precision, as its
// text would hold them in the zone `f` names.
void from_nanoseconds(std::int64_t ns, TimeFields& f) {
    const std::int64_t seconds = floor_div(ns, 1000000000);
    f.seconds = seconds + f.offset_minutes * 60;
    f.fraction = static_cast<std::uint64_t>(ns - seconds * 1000000000) / 1000000;
    f.digits = 3;
}

// Whether the text is the one the listing writes for that write time: then
// only its zone is held.
bool derived_from(const TimeFields& f, std::int64_t ns) {
    // Beyond the years a file system holds, the seconds would not fit.
    constexpr std::int64_t far = std::int64_t{1} << 62;
    if (f.digits != 3 || f.zone == 0 || ns < -far || ns > far) return false;
    TimeFields again = f;
    from_nanoseconds(ns, again);
    return again.seconds == f.seconds && again.fraction == f.fraction;
}

std::uint64_t zigzag(std::int64_t n) {
    return (static_cast<std::uint64_t>(n) << 1) ^ (n < 0 ? ~std::uint64_t{0} : 0);
}

std::int64_t unzigzag(std::uint64_t u) {
    return static_cast<std::int64_t>((u >> 1) ^ (~(u & 1) + 1));
}

// Words beyond this many are held in their rows: a garbage catalogue of
// distinct owners cannot grow the table without end.
constexpr std::size_t most_words = 1 << 16;

// A time's tag: 0 for a text held as written, 1 + fraction digits * 3 +
// zone for one held as numbers, this + zone for one made from the write
// time at full precision.
constexpr std::uint64_t derived_tag = 1 + 10 * 3;

static_assert(group_bases == 3, "a group holds three bases");

}  // namespace

// Filled to four fifths at most: the hashes kept in the slots make a long
// run of probes cheap, and a table half empty would cost more memory than
// the rows it finds.
bool HashSlots::full(std::size_t used, std::size_t slots) {
    return used * 5 > slots * 4;
}

void HashSlots::reserve(std::size_t count) {
    std::size_t size = 16;
    while (full(count, size)) size *= 2;
    if (size > slots_.size()) grow(size);
}

void HashSlots::grow(std::size_t size) {
    std::vector<Slot> old(size);
    old.swap(slots_);
    used_ = 0;
    for (const Slot& slot : old)
        if (slot.value != 0) insert(slot.hash, slot.value - 1);
}

void HashSlots::insert(std::uint32_t hash, std::uint32_t value) {
    if (full(used_ + 1, slots_.size())) grow(std::max<std::size_t>(16, slots_.size() * 2));
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash & mask;
    while (slots_[at].value != 0) at = (at + 1) & mask;
    slots_[at] = {hash, value + 1};
    ++used_;
}

// Blocks of rows; a row never spans two, and one longer than a block has
// a block of its own. A row that does not fit where the last one ended
// begins the next block, so the row after another is where that one ends
// or, past its block's last row, at the next block's start.
struct EarlierRows::Arena {
    // Small beside the rows of a large catalogue, and little left unused
    // at the end of the last block of a small one.
    static constexpr std::size_t block_size = 1 << 18;
    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<std::size_t> ends;  // where each block's last row ends
    std::size_t used = block_size;
    std::size_t total = 0;

    std::uint64_t put(std::string_view bytes) {
        if (bytes.size() > block_size - used) {
            const std::size_t size = std::max(block_size, bytes.size());
            blocks.emplace_back(new char[size]);
            ends.push_back(0);
            total += size;
            used = 0;
        }
        const std::size_t offset = used;
        std::memcpy(blocks.back().get() + offset, bytes.data(), bytes.size());
        ends.back() = offset + bytes.size();
        used = std::min(block_size, used + bytes.size());
        return (static_cast<std::uint64_t>(blocks.size() - 1) << 32) | offset;
    }
    const char* at(std::uint64_t location) const {
        return blocks[location >> 32].get() + (location & 0xFFFFFFFFu);
    }
    // The place of the row after the one at `location`.
    std::uint64_t after(std::uint64_t location) const {
        const char* p = at(location);
        const std::uint64_t length = get_varint(p);
        const std::uint64_t block = location >> 32;
        const auto end = static_cast<std::size_t>(p - blocks[block].get()) + length;
        return end == ends[block] ? (block + 1) << 32 : block << 32 | end;
    }
};

// Texts held once and named by their number.
struct EarlierRows::Words {
    std::vector<std::string> texts;
    HashSlots index;
    std::size_t bytes = 0;
    std::array<std::uint32_t, 4> recent{UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX};
    std::size_t next_recent = 0;

    static constexpr std::uint32_t none = UINT32_MAX;

    // `hint` is the word the same field of the row before held: asked
    // first, and left naming the word found. `none` past `limit` words.
    std::uint32_t find_or_add(std::string_view text, std::size_t limit, std::uint32_t& hint) {
        if (hint < texts.size() && std::string_view(texts[hint]) == text) return hint;
        const std::uint32_t found = find_or_add(text, limit);
        if (found != none) hint = found;
        return found;
    }

    std::uint32_t find_or_add(std::string_view text, std::size_t limit) {
        // Rows in walk order share their directory, and most rows their
        // kind, attributes and owner: the last few found are asked first.
        for (const std::uint32_t id : recent)
            if (id < texts.size() && texts[id] == text) return id;
        const std::uint32_t found = look_up(text, limit);
        if (found != none) recent[next_recent++ % recent.size()] = found;
        return found;
    }

    std::uint32_t look_up(std::string_view text, std::size_t limit) {
        const std::uint32_t hash = hash32(text);
        std::uint32_t found = none;
        index.each(hash, [&](std::uint32_t id) {
            if (texts[id] != text) return false;
            found = id;
            return true;
        });
        if (found != none || texts.size() >= limit) return found;
        const auto id = static_cast<std::uint32_t>(texts.size());
        texts.emplace_back(text);
        bytes += sizeof(std::string) + text.size();
        index.insert(hash, id);
        return id;
    }
};

// The bytes of a row being encoded, written through a pointer: room for
// the whole row is made first, so that no write is checked or grows a
// string, which was a good part of what storing a row cost.
class RowBytes {
public:
    explicit RowBytes(char* at) : p_(at) {}
    void varint(std::uint64_t n) {
        while (n >= 0x80) {
            *p_++ = static_cast<char>((n & 0x7F) | 0x80);
            n >>= 7;
        }
        *p_++ = static_cast<char>(n);
    }
    void byte(char c) { *p_++ = c; }
    void bytes(std::string_view t) {
        if (t.empty()) return;
        std::memcpy(p_, t.data(), t.size());
        p_ += t.size();
    }
    char* end() const { return p_; }

private:
    char* p_;
};

class RowEncoder {
public:
    RowEncoder(EarlierRows& rows, char* body, const std::array<std::uint64_t, 3>& bases)
        : rows_(rows), body_(body), bases_(bases) {}

    void path(const std::string& path) {
        const std::string_view whole(path);
        const std::size_t split = directory_length(whole);
        body_.varint(rows_.directory_id(whole.substr(0, split)));
        text(whole.substr(split));
    }
    void digests(const std::array<std::string, digest_count>& digests) {
        std::uint64_t binary = 0, texts = 0;
        for (std::size_t i = 0; i < digest_count; ++i) {
            if (digests[i].empty()) continue;
            if (binary_digest(static_cast<DigestId>(i), digests[i]))
                binary |= 1u << i;
            else
                texts |= 1u << i;
        }
        body_.varint(binary | texts << digest_count);
        for (std::size_t i = 0; i < digest_count; ++i) {
            if ((binary >> i & 1) == 0) continue;
            const std::string& hex = digests[i];
            for (std::size_t k = 0; k < hex.size(); k += 2)
                body_.byte(static_cast<char>(nibble(hex[k]) << 4 | nibble(hex[k + 1])));
        }
        for (std::size_t i = 0; i < digest_count; ++i)
            if ((texts >> i & 1) != 0) text(digests[i]);
    }
    // 0 for a word held in the row itself, else its number + 1.
    void word(const std::string& word) {
        std::uint32_t& hint = rows_.word_hints_[words_seen_++ % rows_.word_hints_.size()];
        const std::uint32_t id = rows_.words_->find_or_add(word, most_words, hint);
        if (id == EarlierRows::Words::none) {
            body_.varint(0);
            text(word);
        } else {
            body_.varint(std::uint64_t{id} + 1);
        }
    }
    // 0 and the text, or 1 + the fraction's digits, the zone's kind and
    // the numbers.
    void time(const std::string& text, const std::optional<std::int64_t>& ns) {
        const auto f = time_fields(text, rows_.time_minute_);
        if (!f) {
            body_.varint(0);
            this->text(text);
            return;
        }
        if (ns && derived_from(*f, *ns)) {
            body_.varint(derived_tag + f->zone);
            if (f->zone == 2) body_.varint(zigzag(f->offset_minutes));
            return;
        }
        body_.varint(1 + f->digits * 3 + f->zone);
        body_.varint(zigzag(f->seconds));
        if (f->digits != 0) body_.varint(f->fraction);
        if (f->zone == 2) body_.varint(zigzag(f->offset_minutes));
    }
    void flag(bool value) { next_flag(value); }
    void later(const std::optional<std::int64_t>& n, const std::optional<std::int64_t>& base) {
        if (!next_flag(n.has_value())) return;
        // Wrapping: any two values make a difference that gives one back.
        const std::uint64_t from = base ? static_cast<std::uint64_t>(*base) : 0;
        body_.varint(zigzag(static_cast<std::int64_t>(static_cast<std::uint64_t>(*n) - from)));
    }
    template <typename T>
    void near(const std::optional<T>& n, GroupBase base) {
        if (!next_flag(n.has_value())) return;
        body_.varint(
            zigzag(static_cast<std::int64_t>(static_cast<std::uint64_t>(*n) - bases_[base])));
    }
    template <typename T>
    void number(const std::optional<T>& n) {
        if (!next_flag(n.has_value())) return;
        // Zigzag: small magnitudes of either sign stay short.
        if constexpr (std::is_signed_v<T>)
            body_.varint(zigzag(*n));
        else
            body_.varint(*n);
    }
    void text(std::string_view t) {
        body_.varint(t.size());
        body_.bytes(t);
    }

    std::uint64_t flags() const { return flags_; }
    char* end() const { return body_.end(); }

private:
    bool next_flag(bool set) {
        if (set) flags_ |= std::uint64_t{1} << bit_;
        ++bit_;
        return set;
    }

    EarlierRows& rows_;
    RowBytes body_;
    const std::array<std::uint64_t, 3>& bases_;
    std::uint64_t flags_ = 0;
    int bit_ = 0;
    std::size_t words_seen_ = 0;
};

class RowDecoder {
public:
    RowDecoder(const EarlierRows& rows, std::size_t index, bool derived_times = true,
               bool with_path = true)
        : rows_(rows),
          p_(rows.at(index)),
          bases_(rows.group_bases_[index / rows.group_rows]),
          derived_times_(derived_times),
          with_path_(with_path) {
        flags_ = get_varint(p_);
    }

    std::pair<std::string_view, std::string_view> path_view() {
        const std::string& directory = rows_.directories_->texts[get_varint(p_)];
        return {directory, text_view()};
    }
    void path(std::string& out) {
        const auto [directory, name] = path_view();
        if (!with_path_) return;
        out.assign(directory);
        out.append(name);
    }
    // The digest's bytes; empty when the row holds none, or only a text.
    std::string_view digest_view(DigestId id) {
        const std::uint64_t mask = get_varint(p_);
        const std::size_t wanted = digest_index(id);
        if ((mask >> wanted & 1) == 0) return {};
        for (std::size_t i = 0; i < wanted; ++i)
            if ((mask >> i & 1) != 0) p_ += digest_row(static_cast<DigestId>(i)).bytes;
        return {p_, digest_row(id).bytes};
    }
    void digests(std::array<std::string, digest_count>& out) {
        static constexpr char hex[] = "0123456789ABCDEF";
        const std::uint64_t mask = get_varint(p_);
        for (std::size_t i = 0; i < digest_count; ++i) {
            std::string& d = out[i];
            if ((mask >> i & 1) == 0) {
                d.clear();
                continue;
            }
            const std::size_t n = digest_row(static_cast<DigestId>(i)).bytes;
            d.resize(2 * n);
            for (std::size_t k = 0; k < n; ++k) {
                const auto byte = static_cast<unsigned char>(p_[k]);
                d[2 * k] = hex[byte >> 4];
                d[2 * k + 1] = hex[byte & 15];
            }
            p_ += n;
        }
        for (std::size_t i = 0; i < digest_count; ++i)
            if ((mask >> (i + digest_count) & 1) != 0) text(out[i]);
    }
    void word(std::string& out) {
        const std::uint64_t id = get_varint(p_);
        if (id == 0)
            text(out);
        else
            out.assign(rows_.words_->texts[id - 1]);
    }
    void time(std::string& out, const std::optional<std::int64_t>& ns) {
        const std::uint64_t tag = get_varint(p_);
        if (tag == 0) {
            text(out);
            return;
        }
        TimeFields f;
        if (tag >= derived_tag) {
            f.zone = static_cast<unsigned>(tag - derived_tag);
            if (f.zone == 2) f.offset_minutes = unzigzag(get_varint(p_));
            if (!derived_times_) {
                out.clear();
                return;
            }
            from_nanoseconds(ns.value_or(0), f);
            format_time(f, out);
            return;
        }
        f.digits = static_cast<unsigned>((tag - 1) / 3);
        f.zone = static_cast<unsigned>((tag - 1) % 3);
        f.seconds = unzigzag(get_varint(p_));
        if (f.digits != 0) f.fraction = get_varint(p_);
        if (f.zone == 2) f.offset_minutes = unzigzag(get_varint(p_));
        format_time(f, out);
    }
    void flag(bool& out) { out = next_flag(); }
    void later(std::optional<std::int64_t>& out, const std::optional<std::int64_t>& base) {
        if (!next_flag()) {
            out.reset();
            return;
        }
        const std::uint64_t from = base ? static_cast<std::uint64_t>(*base) : 0;
        out =
            static_cast<std::int64_t>(from + static_cast<std::uint64_t>(unzigzag(get_varint(p_))));
    }
    template <typename T>
    void near(std::optional<T>& out, GroupBase base) {
        if (!next_flag()) {
            out.reset();
            return;
        }
        out = static_cast<T>(bases_[base] + static_cast<std::uint64_t>(unzigzag(get_varint(p_))));
    }
    template <typename T>
    void number(std::optional<T>& out) {
        if (!next_flag()) {
            out.reset();
            return;
        }
        const std::uint64_t u = get_varint(p_);
        if constexpr (std::is_signed_v<T>)
            out = unzigzag(u);
        else
            out = static_cast<T>(u);
    }
    void text(std::string& out) { out.assign(text_view()); }

private:
    std::string_view text_view() {
        const std::size_t n = get_varint(p_);
        const std::string_view t(p_, n);
        p_ += n;
        return t;
    }
    bool next_flag() { return (flags_ >> bit_++ & 1) != 0; }

    const EarlierRows& rows_;
    const char* p_;
    const std::array<std::uint64_t, 3>& bases_;
    const bool derived_times_;
    const bool with_path_;
    std::uint64_t flags_ = 0;
    int bit_ = 0;
};

EarlierRows::EarlierRows()
    : arena_(std::make_unique<Arena>()),
      directories_(std::make_unique<Words>()),
      words_(std::make_unique<Words>()) {}

EarlierRows::~EarlierRows() = default;
EarlierRows::EarlierRows(EarlierRows&&) noexcept = default;
EarlierRows& EarlierRows::operator=(EarlierRows&&) noexcept = default;

const char* EarlierRows::at(std::size_t index) const {
    std::uint64_t location = 0;
    if (index == last_index_) {
        location = last_location_;
    } else if (index == last_index_ + 1 && index % group_rows != 0) {
        location = arena_->after(last_location_);
    } else {
        location = group_starts_[index / group_rows];
        for (std::size_t k = index % group_rows; k > 0; --k) location = arena_->after(location);
    }
    last_index_ = index;
    last_location_ = location;
    const char* p = arena_->at(location);
    get_varint(p);  // the length
    return p;
}

std::uint32_t EarlierRows::directory_id(std::string_view directory) {
    return directories_->find_or_add(directory, SIZE_MAX, directory_hint_);
}

bool EarlierRows::holds_path(std::size_t index, std::string_view path) const {
    RowDecoder d(*this, index);
    const auto [directory, name] = d.path_view();
    return path.size() == directory.size() + name.size() &&
           path.substr(0, directory.size()) == directory && path.substr(directory.size()) == name;
}

bool EarlierRows::add(const EarlierEntry& entry, std::uint32_t hash) {
    // The index of a large catalogue is far beyond the caches: its slot is
    // fetched while the row is encoded.
    by_path_.prefetch(hash);
    const bool new_group = count_ % group_rows == 0;
    const auto base = [](const auto& n) { return n ? static_cast<std::uint64_t>(*n) : 0; };
    const std::array<std::uint64_t, 3> bases =
        new_group ? std::array<std::uint64_t, 3>{base(entry.modified_ns), base(entry.device),
                                                 base(entry.inode)}
                  : group_bases_.back();
    // The length and the flags lead the row but are known only once its
    // fields are. Room for the rest: its texts, and a number for each field.
    constexpr std::size_t lead_room = 20;
    std::size_t room = lead_room + 320 + entry.path.size() + entry.kind.size() +
                       entry.modified.size() + entry.attributes.size() + entry.owner.size() +
                       entry.target.size();
    for (const std::string& d : entry.digests) room += d.size() + 10;
    thread_local std::string row;
    if (row.size() < room) row.resize(room);
    RowEncoder encoder(*this, row.data() + lead_room, bases);
    each_field(encoder, entry);
    bool held = false;
    by_path_.each(hash, [&](std::uint32_t index) { return held = holds_path(index, entry.path); });
    if (held) return false;
    char flags[10];
    RowBytes flag_bytes(flags);
    flag_bytes.varint(encoder.flags());
    const auto flags_size = static_cast<std::size_t>(flag_bytes.end() - flags);
    char length[10];
    RowBytes length_bytes(length);
    length_bytes.varint(flags_size + static_cast<std::size_t>(encoder.end() - row.data()) -
                        lead_room);
    const auto length_size = static_cast<std::size_t>(length_bytes.end() - length);
    char* start = row.data() + lead_room - flags_size - length_size;
    std::memcpy(start, length, length_size);
    std::memcpy(start + length_size, flags, flags_size);
    by_path_.insert(hash, static_cast<std::uint32_t>(count_));
    const std::uint64_t location =
        arena_->put(std::string_view(start, static_cast<std::size_t>(encoder.end() - start)));
    if (new_group) {
        group_starts_.push_back(location);
        group_bases_.push_back(bases);
    }
    ++count_;
    return true;
}

std::optional<std::size_t> EarlierRows::find(std::string_view path) const {
    std::optional<std::size_t> found;
    by_path_.each(hash32(path), [&](std::uint32_t index) {
        if (!holds_path(index, path)) return false;
        found = index;
        return true;
    });
    return found;
}

void EarlierRows::read(std::size_t index, EarlierEntry& into, bool derived_times,
                       bool with_path) const {
    RowDecoder d(*this, index, derived_times, with_path);
    each_field(d, into);
}

EarlierEntry EarlierRows::row(std::size_t index) const {
    EarlierEntry e;
    read(index, e);
    return e;
}

void EarlierRows::read_path(std::size_t index, std::string& into) const {
    RowDecoder(*this, index).path(into);
}

std::string_view EarlierRows::digest_bytes(std::size_t index, DigestId id) const {
    RowDecoder d(*this, index);
    d.path_view();
    return d.digest_view(id);
}

std::size_t EarlierRows::bytes_held() const {
    return arena_->total + group_starts_.capacity() * sizeof(std::uint64_t) +
           arena_->ends.capacity() * sizeof(std::size_t) +
           group_bases_.capacity() * sizeof(group_bases_[0]) + by_path_.bytes() +
           directories_->bytes + directories_->index.bytes() + words_->bytes +
           words_->index.bytes();
}

}  // namespace filarix
