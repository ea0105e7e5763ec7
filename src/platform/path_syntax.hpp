// Path rules of the two platform families, as plain values, so that the
// Windows rules can be exercised on any host.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

struct PathSyntax {
    char16_t separator;          // '\\' on Windows, '/' on POSIX
    bool drive_letters;          // "C:" names a volume
    std::u16string long_prefix;  // "\\?\" on Windows, empty on POSIX
    bool case_sensitive;         // how two paths are compared
    bool byte_escapes;           // U+DC80..U+DCFF stand for raw bytes of a name

    static const PathSyntax& windows();
    static const PathSyntax& posix();

    bool is_separator(char16_t c) const { return c == separator || c == u'/'; }
    // Position of the last separator, or npos.
    std::size_t last_separator(std::u16string_view path) const;
    // True when the path starts with the long-path prefix.
    bool has_long_prefix(std::u16string_view path) const;
    // The path without its long-path prefix, when it carries one.
    std::u16string_view without_long_prefix(std::u16string_view path) const;
    // Equal paths under this syntax's case rule.
    bool same_path(std::u16string_view a, std::u16string_view b) const;
    // A path (or a name) against a glob under this syntax's separators and
    // case rule: "*" and "?" stay within one name, "**" crosses separators,
    // and "**" followed by a separator may also stand for no directory at all.
    bool glob_matches(std::u16string_view glob, std::u16string_view path) const;
};

// ASCII-only case folding, the way the program compares masks and names.
char16_t ascii_upper(char16_t c);
std::u16string ascii_upper(std::u16string_view text);
bool equal_ignoring_case(std::u16string_view a, std::u16string_view b);
// Orders names case-insensitively (then by exact code units, so the order
// is total and two runs always agree).
bool name_less(std::u16string_view a, std::u16string_view b);

// The rules of a wildcard pattern: "*" and "?" always; with sets_and_escapes
// also bracket sets ("!"/"^", ranges) and "\\" escapes, as fnmatch has
// them with no flags; fold_case compares ASCII letters without case.
struct GlobRules {
    bool sets_and_escapes = true;
    bool fold_case = false;
};
// The whole name against the whole pattern. Every element but "*" matches
// one character, so one remembered "*" tries each split without recursion
// and no pattern can make it slow.
bool wildcard_match(std::u16string_view pattern, std::u16string_view name, GlobRules rules = {});

// Windows directory-search mask semantics: "*" and "*.*" match every name,
// "?" one character, case-insensitive, and a trailing ".*" also matches a
// name without any extension.
bool mask_matches(std::u16string_view mask, std::u16string_view name);
bool has_wildcards(std::u16string_view text);

// Conversions between UTF-8 and UTF-16. Invalid input bytes become
// U+DC80+byte and go back to the same byte, so that no name is lost.
std::u16string utf8_to_utf16_lossless(std::string_view bytes);
std::string utf16_to_utf8_lossless(std::u16string_view text);
// Plain ASCII widening for literals and messages.
std::u16string widen(std::string_view ascii);

}  // namespace platform
