#include "content/hash_set.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

namespace filarix {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_hex(char c) {
    static constexpr auto table = [] {
        std::array<bool, 256> t{};
        for (int c = 0; c < 256; ++c)
            t[std::size_t(c)] =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        return t;
    }();
    return table[static_cast<unsigned char>(c)];
}

std::string_view trim_front(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    return text;
}

// The column a hashdeep header line names for the digest of the set's kind,
// or, while the kind is open, of the strongest kind it holds; -1 for none.
int hashdeep_column(std::string_view header, std::optional<DigestId> kind) {
    struct Name {
        std::string_view text;
        DigestId kind;
    };
    constexpr Name names[] = {
        {"sha256", DigestId::sha256}, {"sha1", DigestId::sha1}, {"md5", DigestId::md5}};
    int best = -1;
    std::size_t best_rank = std::size(names);
    int column = 0;
    for (std::size_t start = 0; start <= header.size(); ++column) {
        std::size_t comma = header.find(',', start);
        if (comma == std::string_view::npos) comma = header.size();
        const std::string_view field = header.substr(start, comma - start);
        for (std::size_t rank = 0; rank < std::size(names); ++rank) {
            if (field != names[rank].text) continue;
            if (kind == names[rank].kind) return column;
            if (!kind && rank < best_rank) {
                best = column;
                best_rank = rank;
            }
        }
        start = comma + 1;
    }
    return best;
}

// The digest of a data line: the first word of a checksum tool's line
// (after the backslash that marks an escaped name), or the named field of
// a hashdeep line.
std::string_view digest_field(std::string_view line, int csv_column) {
    if (csv_column >= 0) {
        std::size_t start = 0;
        for (int i = 0; i < csv_column; ++i) {
            start = line.find(',', start);
            if (start == std::string_view::npos) return {};
            ++start;
        }
        const std::size_t end = line.find(',', start);
        return line.substr(start,
                           end == std::string_view::npos ? line.size() - start : end - start);
    }
    if (line.front() == '\\') line.remove_prefix(1);
    std::size_t end = 0;
    while (end < line.size() && is_hex(line[end])) ++end;
    // The digest is a word of its own: the name follows after blanks.
    if (end < line.size() && !is_blank(line[end])) return {};
    return line.substr(0, end);
}

// A tagged checksum line names its digest: "XXH128 (name) = digits", as
// xxhsum -H2 --tag writes, is the only way to tell XXH3-128 from MD5, whose
// bare digits are as many.
std::optional<std::pair<DigestId, std::string_view>> tagged_digest(std::string_view line) {
    if (line.front() == '\\') line.remove_prefix(1);
    const std::size_t open = line.find(" (");
    const std::size_t close = line.rfind(") = ");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return std::nullopt;
    const DigestRow* row = digest_of_sum_tag(line.substr(0, open));
    if (row == nullptr) return std::nullopt;
    const std::string_view hex = line.substr(close + 4);
    if (hex.size() != 2 * row->bytes || !std::all_of(hex.begin(), hex.end(), is_hex))
        return std::pair{row->id, std::string_view{}};
    return std::pair{row->id, hex};
}

// Takes a set file's lines one by one, remembering the hashdeep header.
class HashSetParser {
public:
    explicit HashSetParser(KnownDigests& set) : set_(set) {}

    void line(std::string_view line) {
        ++number_;
        if (number_ == 1) {
            // Notepad and PowerShell begin a UTF-8 file with a byte-order
            // mark, which is not part of the first digest.
            if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
            // UTF-16 text has a NUL beside every ASCII character: no line
            // of it is a digest.
            load.utf16 = line.starts_with("\xFF\xFE") || line.starts_with("\xFE\xFF");
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trim_front(line);
        if (line.empty()) return;
        load.has_text = true;
        // hashdeep's header: "%%%% HASHDEEP-1.0", "%%%% size,md5,...,filename",
        // and "## " comment lines.
        if (line.substr(0, 4) == "%%%%") {
            const std::string_view header = trim_front(line.substr(4));
            if (header.find(',') != std::string_view::npos)
                csv_column_ = hashdeep_column(header, set_.kind());
            return;
        }
        if (line.front() == '#') return;
        std::string_view hex;
        std::optional<DigestId> kind;
        const auto tagged = csv_column_ < 0 ? tagged_digest(line) : std::nullopt;
        if (tagged) {
            // A tag over digits that are not its digest's is a bad line.
            hex = tagged->second;
            if (!hex.empty()) kind = tagged->first;
        } else {
            hex = digest_field(line, csv_column_);
            kind = known_digest_of_hex_length(hex.size());
        }
        if (kind) set_.set_kind(*kind);
        if (kind && kind == set_.kind() && set_.add_hex(hex)) {
            ++load.digests;
            return;
        }
        if (load.bad_lines++ == 0) load.first_bad_line = number_;
    }

    HashSetLoad load;

private:
    KnownDigests& set_;
    int csv_column_ = -1;
    std::size_t number_ = 0;
};

// Feeds the complete lines at the front of `text` and removes them.
void take_lines(HashSetParser& parser, std::string& text, bool at_end) {
    std::string_view rest = text;
    for (std::size_t newline; (newline = rest.find('\n')) != std::string_view::npos;) {
        parser.line(rest.substr(0, newline));
        rest.remove_prefix(newline + 1);
    }
    if (at_end && !rest.empty()) {
        parser.line(rest);
        rest = {};
    }
    text.erase(0, text.size() - rest.size());
}

}  // namespace

HashSetLoad read_hash_set_text(std::string_view text, KnownDigests& set) {
    HashSetParser parser(set);
    std::string copy(text);
    take_lines(parser, copy, true);
    parser.load.read_whole = true;
    return parser.load;
}

void load_hash_set(Run& run, std::u16string_view path) {
    const std::string name = run.sys.narrow(path);
    HashSetParser parser(run.known_digests);
    auto file = run.sys.open_read(path, false);
    bool whole = file != nullptr;
    if (file) {
        // Read in pieces: only the set itself stays in memory.
        constexpr std::size_t piece = 1 << 20;
        std::string text;
        for (;;) {
            const std::size_t kept = text.size();
            text.resize(kept + piece);
            const long long got = file->read(text.data() + kept, piece);
            text.resize(kept + static_cast<std::size_t>(std::max(got, 0LL)));
            if (got < 0) whole = false;
            if (got <= 0) break;
            take_lines(parser, text, false);
        }
        take_lines(parser, text, true);
    }
    if (!whole) {
        run.std_out.printf("\nCannot find/open %s", name.c_str());
        end_process(run, exit_code::input_file);
    }
    run.known_digests.seal();
    run.s.HASHSET = 1;
    const HashSetLoad& load = parser.load;
    if (load.bad_lines != 0)
        run.std_err.printf(
            "\nHash set %s: %lu lines are not %s digests and were not taken (the first is line "
            "%lu)\n",
            name.c_str(), static_cast<unsigned long>(load.bad_lines),
            run.known_digests.empty() ? "usable"
                                      : digest_row(*run.known_digests.kind()).name.data(),
            static_cast<unsigned long>(load.first_bad_line));
    // Looking files up in an empty set would call every file unknown.
    if (run.known_digests.empty()) {
        const char* reason = load.utf16 ? "it is UTF-16 text; save it as UTF-8"
                             : !load.has_text
                                 ? "it is empty"
                                 : "no line is an MD5, SHA-1, SHA-256 or SHA-512 digest";
        run.std_err.printf("\nHash set %s holds no digests: %s\n", name.c_str(), reason);
        end_process(run, exit_code::input_file);
    }
}

}  // namespace filarix
