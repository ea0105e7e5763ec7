#include "platform/path_syntax.hpp"

#include <algorithm>
#include <vector>

namespace platform {

const PathSyntax& PathSyntax::windows() {
    static const PathSyntax syntax{u'\\', true, u"\\\\?\\", false, false};
    return syntax;
}

const PathSyntax& PathSyntax::posix() {
    static const PathSyntax syntax{u'/', false, u"", true, true};
    return syntax;
}

bool PathSyntax::has_long_prefix(std::u16string_view path) const {
    return !long_prefix.empty() && path.size() >= long_prefix.size() &&
           path.substr(0, long_prefix.size()) == long_prefix;
}

std::u16string_view PathSyntax::without_long_prefix(std::u16string_view path) const {
    return has_long_prefix(path) ? path.substr(long_prefix.size()) : path;
}

std::size_t PathSyntax::last_separator(std::u16string_view path) const {
    for (std::size_t i = path.size(); i-- > 0;)
        if (is_separator(path[i])) return i;
    return std::u16string_view::npos;
}

bool PathSyntax::same_path(std::u16string_view a, std::u16string_view b) const {
    return case_sensitive ? a == b : equal_ignoring_case(a, b);
}

namespace {

// The elements of a path glob.
enum class GlobPart : char {
    one,        // "?": one character of a name
    name_run,   // "*": any run within one name
    any_run,    // "**": any run, separators too
    any_dirs,   // "**" and a separator: no directory, or any run ending in a separator
    separator,  // a separator, matching either spelling the syntax allows
    literal,
};

}  // namespace

bool PathSyntax::glob_matches(std::u16string_view glob, std::u16string_view path) const {
    struct Element {
        GlobPart part;
        char16_t c;
    };
    std::vector<Element> elements;
    for (std::size_t i = 0; i < glob.size(); ++i) {
        const char16_t g = glob[i];
        if (g == u'*') {
            std::size_t end = i;
            while (end < glob.size() && glob[end] == u'*') ++end;
            if (end - i == 1) {
                elements.push_back({GlobPart::name_run, g});
            } else if (end < glob.size() && is_separator(glob[end])) {
                elements.push_back({GlobPart::any_dirs, g});
                ++end;
            } else {
                elements.push_back({GlobPart::any_run, g});
            }
            i = end - 1;
        } else if (g == u'?') {
            elements.push_back({GlobPart::one, g});
        } else if (is_separator(g)) {
            elements.push_back({GlobPart::separator, g});
        } else {
            elements.push_back({GlobPart::literal, case_sensitive ? g : ascii_upper(g)});
        }
    }
    // rest[j]: the elements after the one at hand match the path from j on.
    // Filled from the glob's end backwards: elements times characters steps,
    // without recursion, so no glob can make it slow.
    const std::size_t n = path.size();
    std::vector<char> rest(n + 1, 0), here(n + 1, 0);
    rest[n] = 1;
    for (std::size_t e = elements.size(); e-- > 0;) {
        const Element el = elements[e];
        bool later_separator = false;  // any_dirs: a separator at k >= j with rest[k + 1]
        for (std::size_t j = n + 1; j-- > 0;) {
            const bool has = j < n;
            const char16_t c = has ? path[j] : u'\0';
            const bool sep = has && is_separator(c);
            bool m = false;
            switch (el.part) {
                case GlobPart::one:
                    m = has && !sep && rest[j + 1];
                    break;
                case GlobPart::separator:
                    m = sep && rest[j + 1];
                    break;
                case GlobPart::literal:
                    m = has && !sep && (case_sensitive ? c : ascii_upper(c)) == el.c && rest[j + 1];
                    break;
                case GlobPart::name_run:
                    m = rest[j] || (has && !sep && here[j + 1]);
                    break;
                case GlobPart::any_run:
                    m = rest[j] || (has && here[j + 1]);
                    break;
                case GlobPart::any_dirs:
                    if (sep && rest[j + 1]) later_separator = true;
                    m = rest[j] || later_separator;
                    break;
            }
            here[j] = m;
        }
        rest.swap(here);
    }
    return rest[0] != 0;
}

char16_t ascii_upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
}

std::u16string ascii_upper(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) c = ascii_upper(c);
    return out;
}

bool equal_ignoring_case(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return true;
}

bool name_less(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;  // the common case, without case folding
        const char16_t x = ascii_upper(a[i]), y = ascii_upper(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool has_wildcards(std::u16string_view text) {
    return text.find_first_of(u"*?") != std::u16string_view::npos;
}

namespace {

// One set member or range of a bracket expression; advances i.
bool set_matches(std::u16string_view p, std::size_t& i, char16_t c, bool& closed) {
    bool negate = false;
    if (i < p.size() && (p[i] == u'!' || p[i] == u'^')) {
        negate = true;
        ++i;
    }
    bool matched = false;
    bool first = true;
    while (i < p.size()) {
        char16_t lo = p[i];
        if (lo == u']' && !first) {
            ++i;
            closed = true;
            return matched != negate;
        }
        first = false;
        if (lo == u'\\' && i + 1 < p.size()) lo = p[++i];
        ++i;
        char16_t hi = lo;
        if (i + 1 < p.size() && p[i] == u'-' && p[i + 1] != u']') {
            hi = p[i + 1];
            i += 2;
            if (hi == u'\\' && i < p.size()) hi = p[i++];
        }
        if (lo <= c && c <= hi) matched = true;
    }
    closed = false;
    return false;
}

// One pattern element against one name character; advances pi.
bool element_matches(std::u16string_view p, std::size_t& pi, char16_t c, GlobRules rules) {
    const char16_t pc = p[pi];
    if (pc == u'?') {
        ++pi;
        return true;
    }
    if (!rules.sets_and_escapes) {
        ++pi;
        return rules.fold_case ? ascii_upper(pc) == ascii_upper(c) : pc == c;
    }
    if (pc == u'[') {
        std::size_t i = pi + 1;
        bool closed = false;
        const bool ok = set_matches(p, i, c, closed);
        if (!closed) return false;
        pi = i;
        return ok;
    }
    if (pc == u'\\') {
        // A backslash with nothing after it escapes nothing and matches nothing.
        if (pi + 1 >= p.size()) return false;
        pi += 2;
        return p[pi - 1] == c;
    }
    ++pi;
    return pc == c;
}

}  // namespace

bool wildcard_match(std::u16string_view pattern, std::u16string_view name, GlobRules rules) {
    // Every element but "*" matches exactly one character, so remembering
    // the last "*" is enough to try each split, shortest first, without
    // recursion.
    std::size_t pi = 0, ni = 0;
    std::size_t star = std::u16string_view::npos, star_name = 0;
    while (ni < name.size()) {
        if (pi < pattern.size() && pattern[pi] == u'*') {
            while (pi < pattern.size() && pattern[pi] == u'*') ++pi;
            star = pi;
            star_name = ni;
            continue;
        }
        std::size_t next = pi;
        if (pi < pattern.size() && element_matches(pattern, next, name[ni], rules)) {
            pi = next;
            ++ni;
            continue;
        }
        if (star == std::u16string_view::npos) return false;
        pi = star;
        ni = ++star_name;
    }
    while (pi < pattern.size() && pattern[pi] == u'*') ++pi;
    return pi == pattern.size();
}

namespace {
constexpr GlobRules mask_rules{.sets_and_escapes = false, .fold_case = true};
}  // namespace

bool mask_matches(std::u16string_view mask, std::u16string_view name) {
    if (mask == u"*" || mask == u"*.*") return true;
    if (wildcard_match(mask, name, mask_rules)) return true;
    // "name.*" also finds "name" itself, as the Windows search does.
    if (mask.size() >= 2 && mask.substr(mask.size() - 2) == u".*" &&
        name.find(u'.') == std::u16string_view::npos)
        return wildcard_match(mask.substr(0, mask.size() - 2), name, mask_rules);
    return false;
}

std::u16string utf8_to_utf16_lossless(std::string_view bytes) {
    // Every name of a walk passes here: the ASCII stretches, nearly all of
    // most names, are widened in one pass without a capacity check per unit.
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < n) {
        const unsigned char b0 = byte(i);
        if (b0 < 0x80) {
            std::size_t end = i + 1;
            while (end < n && byte(end) < 0x80) ++end;
            const std::size_t at = out.size();
            out.resize(at + (end - i));
            for (char16_t* to = out.data() + at; i < end; ++i) *to++ = byte(i);
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b0 & 0xE0) == 0xC0) {
            len = 2;
            cp = b0 & 0x1F;
            min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3;
            cp = b0 & 0x0F;
            min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4;
            cp = b0 & 0x07;
            min = 0x10000;
        }
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            const unsigned char b = byte(i + k);
            if ((b & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (b & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            out.push_back(char16_t(0xDC00 + b0));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return out;
}

std::string utf16_to_utf8_lossless(std::u16string_view text) {
    // All ASCII, as nearly every name is: made at its own size, which a
    // short name's string holds without allocating.
    std::size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
    if (ascii == text.size()) {
        std::string out(text.size(), '\0');
        for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i]);
        return out;
    }
    // Written through a pointer into room for the longest result (three
    // bytes a unit; a pair of units makes four), then cut: every path the
    // walk hands the system passes here.
    std::string out(text.size() * 3, '\0');
    char* to = out.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c < 0x80) {
            *to++ = static_cast<char>(c);
            continue;
        }
        if (c >= 0xDC80 && c <= 0xDCFF) {  // an escaped raw byte
            *to++ = static_cast<char>(c - 0xDC00);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x800) {
            *to++ = static_cast<char>(0xC0 | (c >> 6));
            *to++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *to++ = static_cast<char>(0xE0 | (c >> 12));
            *to++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *to++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *to++ = static_cast<char>(0xF0 | (c >> 18));
            *to++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *to++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *to++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
    return out;
}

std::u16string widen(std::string_view ascii) {
    std::u16string out;
    out.reserve(ascii.size());
    for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
    return out;
}

}  // namespace platform
