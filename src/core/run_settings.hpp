// The settings record: every switch, count and code that says how a run
// behaves. The names are those of the INI keys and long options in capitals,
// or lower case where a setting has neither. All start at zero except the
// start-up defaults set by apply_start_up_defaults.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

inline constexpr std::int32_t table_csv = 1;
inline constexpr std::int32_t table_jsonl = 2;

inline constexpr std::int32_t hashset_known_only = 1;
inline constexpr std::int32_t hashset_unknown_only = 2;

// The switches, counts and codes: plain numbers, so that a record of them
// compares and copies as a whole.
struct SettingFlags {
    std::int32_t ACCT = 0;
    std::int32_t ADS = 0;
    std::int32_t aging = 0;
    std::int32_t ALL_HT = 0;
    std::int32_t APPEND = 0;
    std::int32_t attr_archive = 0;
    std::int32_t attr_filter = 0;
    std::int32_t COMMENT = 0;
    std::int32_t CRC = 0;
    std::int32_t DELIM = 0;
    std::int32_t directories = 0;
    std::int32_t eight_dot_three = 0;  // the setting "8.3"
    std::int32_t width_set = 0;
    std::int32_t attr_encrypted = 0;
    std::int32_t EXCLUDE = 0;
    std::int32_t execute = 0;
    std::int32_t execute_cd = 0;
    std::int32_t EXT = 0;
    std::int32_t owner = 0;
    std::int32_t fixed = 0;
    std::int32_t GREATER = 0;
    std::int32_t HASH = 0;
    std::int32_t HASHSET = 0;  // a set of known digests was loaded
    // Which files a run with a known set lists: all of them, only those
    // whose digest is in the set (--KNOWN), or only the others (--UNKNOWN).
    std::int32_t hashset_match = 0;
    std::int32_t header_only = 0;
    std::int32_t signature_check = 0;
    std::int32_t attr_hidden = 0;
    std::int32_t label = 0;
    std::int32_t LESSTHAN = 0;
    std::int32_t levels = 0;
    std::int32_t LFN = 0;
    std::int32_t WIDTH = 0;
    std::int32_t MEMO = 0;
    std::int32_t TIME = 0;
    std::int32_t MILLI = 0;
    std::int32_t NAMEAFTER = 0;
    std::int32_t NAMEONLY = 0;
    std::int32_t PPATHONLY = 0;
    std::int32_t NO_ADS = 0;
    std::int32_t NOCHILD = 0;
    std::int32_t OLDER = 0;
    std::int32_t ADSONLY = 0;
    ListingOutput OUTPUT = ListingOutput::console;
    std::int32_t PAUSE = 0;
    std::int32_t PNAME = 0;
    std::int32_t attr_readonly = 0;
    std::int32_t RECURSE = 0;
    std::int32_t RESET = 0;
    std::int32_t seconds = 0;
    std::int32_t SEQUENCE = 0;
    std::int32_t SHA = 0;
    std::int32_t SHA2 = 0;
    std::int32_t SHA3 = 0;
    std::int32_t SHA5 = 0;
    std::int32_t SHOWLONG = 0;
    std::int32_t SORT = 0;
    std::int32_t SPLIT = 0;
    std::int32_t STREAM = 0;
    std::int32_t attr_system = 0;
    std::int32_t REVERSE = 0;
    std::int32_t time_type = 0;  // a character code: w a c (or upper case), 3, 0
    std::int32_t UTF8 = 0;
    std::int32_t VAR = 0;
    std::int32_t SILENT = 0;
    std::int32_t NEWER = 0;
    std::int32_t ZIPLOG = 0;
    std::int32_t ZULU = 0;
    // The counting pass before the walk, which gives the progress line its
    // totals (--PROGRESS).
    std::int32_t precount = 0;
    // Rows for other programs in place of the records: --CSV or --JSONL.
    std::int32_t table_format = 0;
    // With --DIFF, only the entries that are not unchanged (--CHANGED).
    std::int32_t CHANGED = 0;
};

struct RunSettings : SettingFlags {
    // ----- the values the sources fill -----
    std::vector<std::u16string> root_list;
    std::vector<std::u16string> filetype_list;
    std::vector<std::u16string> exclude_list;  // upper-cased masks
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
    std::u16string memo_name;
    // The earlier catalogue a run compares the tree with (--DIFF).
    std::u16string diff_name;
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
    s.RECURSE = 1;
    s.time_type = 'w';
    s.ZULU = 0;
    s.TIME = 0;
    s.STREAM = 1;
}

}  // namespace filarix
