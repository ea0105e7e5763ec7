#include "catalogue/change_class.hpp"

#include "platform/platform.hpp"

namespace filarix {

namespace {

struct Instant {
    std::int64_t seconds = 0;  // since 1970-01-01 UTC
    std::string fraction;      // the digits after the point, as written
};

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    if (at + count > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DDTHH:MM:SS[.digits](+HH:MM|-HH:MM|Z)", or without an offset
// (then taken as written).
std::optional<Instant> instant_of(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' ||
        !digits(text, 5, 2, month) || text[7] != '-' || !digits(text, 8, 2, day) ||
        (text[10] != 'T' && text[10] != ' ') || !digits(text, 11, 2, hour) || text[13] != ':' ||
        !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second) ||
        month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    Instant t;
    std::size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') t.fraction += text[at++];
    }
    int offset = 0;
    if (at < text.size()) {
        const char sign = text[at];
        int oh = 0, om = 0;
        if (sign == 'Z' && at + 1 == text.size()) {
            offset = 0;
        } else if ((sign == '+' || sign == '-') && text.size() == at + 6 &&
                   digits(text, at + 1, 2, oh) && text[at + 3] == ':' &&
                   digits(text, at + 4, 2, om)) {
            offset = (sign == '-' ? -1 : 1) * (oh * 3600 + om * 60);
        } else {
            return std::nullopt;
        }
    }
    t.seconds = platform::days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                second - offset;
    return t;
}

bool differs(const std::string& a, const std::string& b) {
    return !a.empty() && !b.empty() && a != b;
}

}  // namespace

const char* change_name(ChangeClass c) {
    switch (c) {
        case ChangeClass::unchanged:
            return "unchanged";
        case ChangeClass::added:
            return "added";
        case ChangeClass::removed:
            return "removed";
        case ChangeClass::moved:
            return "moved";
        case ChangeClass::changed:
            return "changed";
    }
    return "";
}

char change_letter(ChangeClass c) {
    static constexpr char letters[] = {'.', 'A', 'R', 'M', 'C'};
    return letters[static_cast<std::size_t>(c)];
}

std::string changed_facts_text(unsigned facts) {
    static constexpr std::pair<unsigned, const char*> names[] = {
        {fact_content, "content"}, {fact_modified, "modified"}, {fact_attributes, "attributes"},
        {fact_owner, "owner"},     {fact_streams, "streams"},
    };
    std::string out;
    for (const auto& [bit, name] : names) {
        if ((facts & bit) == 0) continue;
        if (!out.empty()) out += ',';
        out += name;
    }
    return out;
}

std::optional<DigestId> strongest_shared_digest(const EarlierEntry& a, const EarlierEntry& b) {
    const DigestRow* best = nullptr;
    for (const DigestRow& row : digest_rows)
        if (!a.digest(row.id).empty() && !b.digest(row.id).empty() &&
            (best == nullptr || row.strength > best->strength))
            best = &row;
    if (best == nullptr) return std::nullopt;
    return best->id;
}

bool same_content(const EarlierEntry& a, const EarlierEntry& b) {
    if (a.size && b.size && *a.size != *b.size) return false;
    const auto id = strongest_shared_digest(a, b);
    return !id || a.digest(*id) == b.digest(*id);
}

bool same_time(std::string_view a, std::string_view b) {
    // The same text: the common case of an unchanged file, read no further.
    if (a == b) return true;
    const auto ta = instant_of(a);
    const auto tb = instant_of(b);
    if (!ta || !tb) return true;
    if (ta->seconds != tb->seconds) return false;
    const std::size_t shared = std::min(ta->fraction.size(), tb->fraction.size());
    return ta->fraction.compare(0, shared, tb->fraction, 0, shared) == 0;
}

unsigned changed_facts(const EarlierEntry& before, const EarlierEntry& now) {
    unsigned facts = 0;
    if (!same_content(before, now)) facts |= fact_content;
    // Nanoseconds where both record them: a write within the same
    // millisecond still tells.
    const bool modified = before.modified_ns && now.modified_ns
                              ? *before.modified_ns != *now.modified_ns
                              : !same_time(before.modified, now.modified);
    if (modified) facts |= fact_modified;
    if (differs(before.attributes, now.attributes)) facts |= fact_attributes;
    if (differs(before.owner, now.owner)) facts |= fact_owner;
    return facts;
}

}  // namespace filarix
