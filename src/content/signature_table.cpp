#include "content/signature_table.hpp"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>

namespace filarix {

namespace {

// The number the memory-failure message carries; fixed from one build to the next.
constexpr int memory_error_number = 107;

struct Line {
    std::string_view text;  // without its line end
    bool ended = false;     // it had a line end
};

// Only LF and CR LF end a line: a last line without one keeps every
// character, and a CR elsewhere is text.
std::vector<Line> split_lines(std::string_view contents) {
    std::vector<Line> lines;
    while (!contents.empty()) {
        const std::size_t lf = contents.find('\n');
        if (lf == std::string_view::npos) {
            lines.push_back({contents, false});
            break;
        }
        std::string_view text = contents.substr(0, lf);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        lines.push_back({text, true});
        contents.remove_prefix(lf + 1);
    }
    return lines;
}

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, again);
    va_end(again);
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    return out;
}

// The offset after the colon as atoi reads it: blanks, a sign, digits up
// to the first other character; a number beyond 32 bits saturates, as the
// runtime's reader does.
std::int32_t read_offset(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;  // any other character counts as the digit 0
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The runtime's case-blind comparison, reduced to its sign.
int compare_no_case(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(lower(a[i]));
        const auto cb = static_cast<unsigned char>(lower(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// Letters, digits, punctuation, space and tab in the C locale, and the line
// feed; a carriage return does not count.
bool looks_like_text(unsigned char c) {
    return (c >= 0x21 && c <= 0x7E) || c == ' ' || c == '\t' || c == '\n';
}

}  // namespace

HeaderFileLoad parse_header_file(std::string_view contents) {
    HeaderFileLoad load;
    const std::vector<Line> lines = split_lines(contents);
    load.line_count = static_cast<std::uint32_t>(std::min<std::size_t>(lines.size(), UINT32_MAX));
    if (lines.size() > header_file_max_lines) {
        load.too_many_lines = true;
        load.messages.push_back(formatted("\nError on line %d of source code %s\n",
                                          memory_error_number, "signature_table.cpp"));
        load.messages.push_back(
            formatted("Your header file is %d lines long.\n", static_cast<int>(load.line_count)));
        load.messages.push_back("This is too large for the program to handle. \n");
        load.messages.push_back("For safety, the max number of lines is 500\n");
        load.messages.push_back("Please reduce the size of the header file and rerun program\n");
        return load;
    }

    int number = 0;
    bool fixed_any = false;
    for (const Line& line : lines) {
        // The length counts the line end as the one character it is in a
        // text file read on the program's home system.
        if (line.text.size() + (line.ended ? 1 : 0) < 5) continue;
        ++number;
        if (line.text[0] == '#' || line.text[0] == ';') continue;
        const std::string_view text = line.text;
        if (std::count(text.begin(), text.end(), ',') != 2) {
            load.messages.push_back(
                formatted("\nHeader line #%d, %s has incorrect number of fields. bypassing. ",
                          number, std::string(text).c_str()));
            continue;
        }
        const std::size_t first = text.find(',');
        const std::size_t second = text.find(',', first + 1);
        std::string_view name = text.substr(0, first);
        const std::string_view extension = text.substr(first + 1, second - first - 1);
        const std::string_view signature = text.substr(second + 1);

        SignatureEntry entry;
        // The offset belongs to the name field alone, so that a colon in
        // the signature text is compared like any other character.
        const std::size_t colon = name.find(':');
        if (colon != std::string_view::npos) {
            entry.offset = read_offset(name.substr(colon + 1));
            name = name.substr(0, colon);
        }
        entry.name = name;
        entry.extension = extension;
        if (!signature.empty() && signature[0] == 'X') {
            const std::string_view digits = signature.substr(1);
            if (digits.size() % 2 != 0) {
                load.messages.push_back(formatted("\nHeader line #%d, %s is missing a digit. ",
                                                  number, std::string(text).c_str()));
                load.messages.push_back("I fix.");
                fixed_any = true;
            }
            for (std::size_t i = 0; i < digits.size(); i += 2) {
                const int high = hex_digit(digits[i]);
                const int low = i + 1 < digits.size() ? hex_digit(digits[i + 1]) : 0;
                entry.signature.push_back(static_cast<char>(high << 4 | low));
            }
        } else {
            entry.signature = signature;
        }
        load.table.entries.push_back(std::move(entry));
        if (load.table.entries.size() == signature_table_max_entries) break;
    }
    if (fixed_any) load.messages.push_back("\n");
    return load;
}

FileTypeCheck check_signatures(const SignatureTable& table, std::u16string_view extension,
                               std::uint64_t file_size, std::span<const unsigned char> window,
                               int signature_check) {
    if (window.size() > signature_window_size) window = window.first(signature_window_size);
    std::string narrow;
    for (const char16_t c : extension) narrow.push_back(static_cast<char>(c & 0xFF));

    FileTypeCheck check;
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
        const SignatureEntry& entry = table.entries[i];
        if (entry.signature.empty()) break;
        // The signature must lie wholly within the bytes read and within
        // the file: bytes past them are not the file's, and a negative
        // offset points before its start.
        if (entry.offset < 0) continue;
        const std::uint64_t offset = static_cast<std::uint64_t>(entry.offset);
        const std::uint64_t end = offset + entry.signature.size();
        if (end > window.size() || end > file_size) continue;
        if (!std::equal(entry.signature.begin(), entry.signature.end(), window.begin() + offset,
                        [](char s, unsigned char w) { return static_cast<unsigned char>(s) == w; }))
            continue;
        check.result = static_cast<int>(i + 1);
        check.category = entry.extension;
        check.extension_mismatch = compare_no_case(narrow, entry.extension);
        check.signature_matched = true;
        return check;
    }
    if (signature_check == 2) {
        const std::size_t n = std::min<std::size_t>(window.size(), 10);
        const auto texty = std::count_if(window.begin(), window.begin() + n, looks_like_text);
        if (texty > 5) {
            check.result = -1;
            check.category = "ASC";
            return check;
        }
    }
    check.result = -2;
    check.category = "UNK";
    return check;
}

}  // namespace filarix
