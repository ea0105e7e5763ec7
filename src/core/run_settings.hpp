// The settings record: every switch, count and code that says how a run
// behaves. The names are those of the INI keys and long options in capitals,
// or lower case where a setting has neither. All start at zero except the
// start-up defaults set by apply_start_up_defaults.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/digest_set.hpp"

namespace filarix {

// The lists hold 79 entries in 80 slots.
inline constexpr std::size_t list_capacity = 79;
inline constexpr std::size_t exclude_capacity = 80;

struct DateValue {
    int month = 0;
    int day = 0;
    int year = 0;
};

// Where the listing goes: the console (the standard error stream), a
// named file, or the standard output (-o stdout), which is not a file.
enum class ListingOutput { console, file, standard_output };

// Rows for other programs in place of the records: --CSV or --JSONL. A
// plain enum, so that "any table" reads as a truth value.
enum TableFormat : std::uint8_t { table_none, table_csv, table_jsonl };

// The database --DB names: a file (SQLite), or a PostgreSQL server by its
// URL or key=value connection string.
enum class DatabaseKind : std::uint8_t { none, sqlite_file, postgresql };

// Which files a run with a known set lists: all of them, only those whose
// digest is in the set (--KNOWN), or only the others (--UNKNOWN).
enum HashsetMatch : std::uint8_t { hashset_all, hashset_known_only, hashset_unknown_only };

// The header file's signature check: none, asked for with -h or -H, or
// with +h or +H, which also tells text from unknown contents.
enum SignatureCheck : std::uint8_t { signature_none, signature_minus, signature_plus };

// Entries below the start path that name child objects: listed as any
// other, or named and left out, deleted first (--NOCHILD) or not
// (--RENCHILD).
enum ChildObjects : std::uint8_t { nochild_off, nochild_delete, nochild_name };

// The switches, counts and codes: plain values, so that a record of them
// compares and copies as a whole.
struct SettingFlags {
    bool ACCT = false;
    std::int32_t ADS = 0;
    bool aging = false;
    bool ALL_HT = false;
    bool APPEND = false;
    bool attr_archive = false;
    bool attr_filter = false;
    bool COMMENT = false;
    // The digests asked for, shown in the record in the registry's order.
    DigestSet digests;
    bool DELIM = false;
    std::int32_t directories = 0;
    bool eight_dot_three = false;  // the setting "8.3"
    std::int32_t width_set = 0;
    bool attr_encrypted = false;
    bool EXCLUDE = false;
    std::int32_t execute = 0;
    bool execute_cd = false;
    std::int32_t EXT = 0;
    std::int32_t owner = 0;
    bool fixed = false;
    bool GREATER = false;
    bool HASHSET = false;  // a set of known digests was loaded
    HashsetMatch hashset_match = hashset_all;
    bool header_only = false;
    SignatureCheck signature_check = signature_none;
    bool attr_hidden = false;
    bool label = false;
    bool LESSTHAN = false;
    std::int32_t levels = 0;
    bool LFN = false;
    std::int32_t WIDTH = 0;
    bool MEMO = false;
    bool TIME = false;
    bool MILLI = false;
    bool NAMEAFTER = false;
    bool NAMEONLY = false;
    bool PPATHONLY = false;
    bool NO_ADS = false;
    ChildObjects NOCHILD = nochild_off;
    bool OLDER = false;
    bool ADSONLY = false;
    ListingOutput OUTPUT = ListingOutput::console;
    bool PAUSE = false;
    bool PNAME = false;
    bool attr_readonly = false;
    bool RECURSE = false;
    std::int32_t RESET = 0;
    bool seconds = false;
    bool SEQUENCE = false;
    bool SHOWLONG = false;
    bool SORT = false;
    bool SPLIT = false;
    bool STREAM = false;
    bool attr_system = false;
    bool REVERSE = false;
    std::int32_t time_type = 0;  // a character code: w a c (or upper case), 3, 0
    bool UTF8 = false;
    bool VAR = false;
    std::int32_t SILENT = 0;
    bool NEWER = false;
    bool ZIPLOG = false;
    bool ZULU = false;
    // The counting pass before the walk, which gives the progress line its
    // totals (--PROGRESS).
    bool precount = false;
    TableFormat table_format = table_none;
    // With --DIFF, only the entries that are not unchanged (--CHANGED).
    bool CHANGED = false;
    // Directory rows carry the totals of their subtrees (--TREESIZE).
    bool TREESIZE = false;
    // Only files whose contents another listed file has (--DUPES).
    bool DUPES = false;
    // Files and directories down to this many levels below a start path,
    // 0 for no limit (--DEPTH).
    std::int32_t depth = 0;
    // The walk stays on each start path's file system (--ONEFS).
    bool ONEFS = false;
    // Full paths, each ended by a NUL byte, in place of records (--NUL).
    bool NUL = false;

    bool operator==(const SettingFlags&) const = default;
};

struct RunSettings : SettingFlags {
    // ----- the values the sources fill -----
    std::vector<std::u16string> root_list;
    std::vector<std::u16string> filetype_list;
    std::vector<std::u16string> exclude_list;  // upper-cased masks
    // Globs of directories neither entered nor listed (--PRUNE), as given.
    std::vector<std::u16string> prune_list;
    std::u16string output_name;
    std::u16string acct_name;
    std::u16string comment_text;
    std::string label_text;
    std::string owner_name;
    char delimiter = ' ';
    std::int64_t DISPLACE = 0;
    std::int64_t displace_end = 0;
    std::int64_t size_greater = 0;
    std::int64_t size_less = 0;
    std::int64_t lfn_width = 33;
    // Key letters ending with sort_end, and their directions (1 or -1).
    std::array<int, 10> sort_keys{'n', sort_end};
    std::array<int, 10> sort_dirs{1};
    // Keys given so far by -y/-Y and the INI key SORT; the starting key 'n'
    // does not count, so the first key given replaces it.
    std::size_t sort_keys_given = 0;
    std::u16string header_file;
    int older_days = 0;
    int newer_days = 8000;
    DateValue older_date;
    DateValue newer_date;
    char older_kind = '0';
    std::array<char, 4> date_kinds{'0', '0', '0', '0'};
    // Characters of the per-file command that name its program.
    std::size_t command_program_length = 0;
    int split_lines = 0;
    std::u16string ziplog_name;
    // The earlier catalogue a run compares the tree with (--DIFF).
    std::u16string diff_name;
    // The earlier listing whose digests unchanged files take (--REUSE).
    std::u16string reuse_name;
    // The database the rows also go to (--DB), and what kind it is.
    std::u16string database_name;
    DatabaseKind database_kind = DatabaseKind::none;
    // The per-file command's template, its program resolved.
    std::u16string command_text;
    int showlong_min = 260;
    int nameafter_width = -1;
    int sequence_start = 0;
    char16_t drive_letter = 0;

    static constexpr int sort_end = 999;

    bool output_to_file() const { return OUTPUT == ListingOutput::file; }
};

// The built-in defaults the driver applies before any settings source.
inline void apply_start_up_defaults(RunSettings& s) {
    s.WIDTH = 54;
    s.RECURSE = true;
    s.time_type = 'w';
    s.ZULU = false;
    s.TIME = false;
    s.STREAM = true;
}

}  // namespace filarix
