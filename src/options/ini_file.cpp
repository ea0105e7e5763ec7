#include "options/ini_file.hpp"

#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/digest_registry.hpp"
#include "core/parse_actions.hpp"
#include "core/shown_text.hpp"
#include "options/command_line.hpp"
#include "options/date_arguments.hpp"
#include "options/number_text.hpp"
#include "options/option_rules.hpp"
#include "options/start_paths.hpp"

namespace filarix {

namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Lines are upper-cased byte by byte, ASCII letters only, so every byte
// keeps its place.
std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// One setting line as the rows see it.
struct Line {
    Run& run;
    RunSettings& s;
    std::string text;   // upper-cased, line end removed
    std::string value;  // after the first "=", upper-cased
    // The value with its case as written: paths on a case-sensitive file
    // system must keep it, or no file would ever be found under them.
    std::string path_value;
    bool has_value = false;  // the line holds "="

    bool on() const { return contains(value, "ON") || contains(value, "YES"); }
    bool off() const { return contains(value, "OFF"); }
    std::u16string wide_value() const { return wide_text(run, value); }
    std::u16string full_path_value() const {
        return full_path_or_name(run, wide_text(run, path_value));
    }
    void warn(const char* format) { run.std_out.printf(format, text.c_str()); }
    // The first warning of a file pauses so that it can be read; a file
    // that is not an INI file at all would otherwise pause for every line.
    void pause(int seconds) {
        if (run.ini_paused) return;
        run.ini_paused = true;
        ask_action(run, PauseAction{seconds});
    }

    // The boolean rule: a start value, then ON or YES sets, OFF clears.
    template <class Flag>
    void boolean(Flag& field, std::optional<int> start) {
        if (start) field = static_cast<Flag>(*start);
        if (!has_value) return;
        if (on()) field = static_cast<Flag>(1);
        if (off()) field = static_cast<Flag>(0);
    }
};

enum class Match { start, anywhere };

struct Row {
    const char* keys[3];
    Match match;
    void (*apply)(Line&);
};

void accounting(Line& l) {
    Run& run = l.run;
    if (!l.has_value) {
        l.warn("\nMissing ini file modifier at: %s=");
        l.pause(2);
        l.s.ACCT = 0;
        return;
    }
    if (l.off()) {
        l.s.ACCT = 0;
        return;
    }
    run.s.acct_name = l.full_path_value();
    l.s.ACCT = 1;
    // The file is opened once the options are read; the one the
    // environment opened says where the log went.
    ask_action(run, CloseLogAction{"This file closed.\nAccounting file overridden by .ini file "
                                   "pointing to " +
                                   shown_text(run, run.s.acct_name) + "\n"});
}

void all_hashes_and_times(Line& l) {
    if (!l.has_value) {
        l.warn("\nMissing ini file modifier at: %s");
        l.pause(2);
        return;
    }
    if (l.on()) {
        l.s.TIME = 1;
        l.s.time_type = '3';
        l.s.ALL_HT = 1;
        l.s.digests.add(DigestId::md5);
    }
    if (l.off()) l.s.ALL_HT = 0;
}

void all_times(Line& l) {
    if (!l.has_value || l.on()) {
        l.s.TIME = 1;
        l.s.time_type = '3';
    }
}

void comment(Line& l) {
    l.s.COMMENT = 1;
    if (l.has_value) l.run.s.comment_text = l.wide_value();
}

void delimiter(Line& l) {
    if (!l.has_value || l.value.empty()) {
        l.warn("\nMissing ini file directive %s");
        l.pause(2);
        l.s.DELIM = 0;
        return;
    }
    if (l.off()) {
        l.s.DELIM = 0;
        return;
    }
    if (!delimiter_allowed(l.value[0])) {
        l.warn("\nMissing ini file directive %s");
        l.pause(2);
        l.s.DELIM = 0;
        return;
    }
    l.s.DELIM = 1;
    l.run.s.delimiter = l.value[0];
}

// The set file keeps the name as written.
void hash_set(Line& l) {
    if (!l.has_value || l.path_value.empty()) {
        l.warn("\nMissing ini file directive %s");
        l.pause(2);
        return;
    }
    ask_action(l.run, LoadHashSetAction{wide_text(l.run, l.path_value)});
}

// The listing whose digests unchanged files take; the driver reads it
// before anything is listed.
void reuse(Line& l) {
    if (!l.has_value || l.path_value.empty()) {
        l.warn("\nMissing ini file directive %s");
        l.pause(2);
        return;
    }
    l.s.reuse_name = wide_text(l.run, l.path_value);
}

// One glob a line, as EXC takes one mask a line; the case as written,
// since the walk compares it under the platform's case rule.
void prune(Line& l) {
    if (!l.has_value || l.path_value.empty()) {
        l.warn("\nMissing/Illegal ini file directive %s");
        l.pause(2);
        return;
    }
    l.s.prune_list.push_back(wide_text(l.run, l.path_value));
}

void depth(Line& l) {
    const auto n = l.has_value ? whole_positive_number(std::string_view(l.value)) : std::nullopt;
    if (!n) {
        l.warn("\nMissing/Illegal ini file directive %s");
        l.pause(2);
        return;
    }
    l.s.depth = *n;
}

// The database the rows also go to; the driver opens it before the walk.
void database(Line& l) {
    if (!l.has_value || l.path_value.empty()) {
        l.warn("\nMissing ini file directive %s");
        l.pause(2);
        return;
    }
    l.s.database_name = wide_text(l.run, l.path_value);
    l.s.database_kind = database_kind_of(l.s.database_name);
}

// Keys that pick one of several modes of a setting (KNOWN or UNKNOWN, CSV
// or JSONL); OFF undoes only its own mode.
template <auto field, auto mode>
void one_mode_of(Line& l) {
    if (!l.off())
        l.s.*field = mode;
    else if (l.s.*field == mode)
        l.s.*field = {};
}

void displacement(Line& l) {
    if (!l.has_value) {
        l.warn("\nMissing ini file directive: %s");
        l.run.s.DISPLACE = 0;
        return;
    }
    l.run.s.DISPLACE = l.off() ? 0 : leading_number(l.value);
}

void exclude(Line& l) {
    l.s.EXCLUDE = 1;
    if (!l.has_value || l.value.empty()) {
        l.warn("\nMissing/illegal ini file directive %s");
        l.pause(2);
        return;
    }
    // The list is full: the mask is refused with the message -x gives, and
    // the run goes on, since no INI line ends a run.
    if (exclude_list_full(l.run.s.exclude_list.size())) {
        report_exclude_list_full(l.run.std_out);
        l.pause(2);
        return;
    }
    add_exclude_mask(l.run, l.wide_value());
}

void extension(Line& l) {
    l.s.LFN = true;
    l.s.EXT = 1;
}

void file_mask(Line& l) {
    if (!l.has_value || l.value.empty()) {
        l.warn("\nMissing/Illegal ini file directive %s");
        l.pause(2);
        return;
    }
    add_mask(l.run, l.wide_value());
}

// Keys old INI files still hold: read, and nothing follows from them.
void accepted(Line&) {}

void first_512(Line& l) {
    if (!l.has_value) {
        l.warn("\nMissing/Illegal ini file directive %s");
        l.pause(2);
        return;
    }
    if (l.on()) l.run.s.DISPLACE = 512;
    if (l.off()) l.run.s.DISPLACE = 0;
}

void greater(Line& l) {
    l.s.GREATER = 1;
    if (l.has_value) {
        l.run.s.size_greater = leading_number(l.value);
        return;
    }
    l.warn("\nMissing ini file modifier at: %s");
    l.run.std_out.put("\nGREATER size option turned OFF");
    l.pause(3);
    l.s.GREATER = 0;
}

void less_than(Line& l) {
    l.s.LESSTHAN = 1;
    if (l.has_value) {
        l.run.s.size_less = leading_number(l.value);
        return;
    }
    l.warn("\nIllegal ini file directive %s");
    l.run.std_out.put("\nLESSTHAN size option turned OFF");
    l.pause(3);
    l.s.LESSTHAN = 0;
}

void memo(Line& l) {
    l.s.MEMO = 1;
    if (!l.has_value) {
        ask_action(l.run, OpenMemoAction{});
        return;
    }
    if (l.off()) {
        l.s.MEMO = 0;
        return;
    }
    ask_action(l.run, OpenMemoAction{l.full_path_value()});
}

void military(Line& l) {
    // Without a value there is nothing to decide.
    if (!l.has_value) return;
    if (l.on()) l.s.TIME = 1;
    if (l.off()) l.s.TIME = 0;
}

void milliseconds(Line& l) {
    l.s.MILLI = 1;
    l.s.seconds = 1;
    if (l.has_value && l.off()) l.s.MILLI = 0;
}

void age(Line& l, AgeSide side, const char* missing) {
    if (!l.has_value) {
        l.warn(missing);
        l.run.std_out.put("\nAging modifier turned off");
        l.pause(2);
        l.s.aging = 0;
        return;
    }
    read_age_value(l.run, l.wide_value(), side, AgeSource::ini_file);
}

void newer(Line& l) {
    age(l, AgeSide::newer, "\nMissing ini modifier at: %s");
}

void older(Line& l) {
    age(l, AgeSide::older, "\nMissing ini file modifier at: %s");
}

void output(Line& l) {
    if (!l.has_value) {
        l.warn("\nMissing ini file modifier at: %s");
        l.run.std_out.put("Output set to NOne\n");
        l.pause(3);
        l.s.OUTPUT = ListingOutput::console;
        return;
    }
    l.s.OUTPUT = ListingOutput::file;
    l.run.s.output_name = l.full_path_value();
}

void start_path(Line& l) {
    if (!l.has_value || l.path_value.empty()) {
        l.warn("\nMissing/Illegal ini file directive %s");
        l.pause(2);
        return;
    }
    add_start_path(l.run, wide_text(l.run, l.path_value));
}

void recurse(Line& l) {
    if (!l.has_value) {
        l.warn("\nMissing ini file directive at: %s");
        l.pause(2);
        return;
    }
    l.boolean(l.s.RECURSE, std::nullopt);
}

void reverse(Line& l) {
    l.boolean(l.s.REVERSE, 1);
    if (l.has_value && contains(l.value, "NO")) l.s.REVERSE = 0;
}

void split(Line& l) {
    ++l.s.SILENT;
    if (!l.has_value) {
        l.warn("\nIllegal ini file directive %s");
        l.pause(2);
        l.s.SPLIT = 0;
        return;
    }
    l.s.SPLIT = 1;
    l.run.s.split_lines = leading_number_in(l.value, std::numeric_limits<std::int32_t>::min(),
                                            std::numeric_limits<std::int32_t>::max());
}

void stream(Line& l) {
    l.boolean(l.s.STREAM, 0);
    if (l.has_value) return;
    l.warn("\nIllegal ini file directive %s");
    l.pause(2);
}

void sort(Line& l) {
    // A key line without a key is left alone: the default order stays.
    if (!l.has_value || l.value.empty()) return;
    l.s.SORT = 1;
    const std::size_t before = l.run.s.sort_keys_given;
    append_sort_keys(l.run, wide_text(l.run, l.value.substr(0, 1)));
    // The direction is the line's own: "-" after the key, else ascending.
    if (l.run.s.sort_keys_given > before)
        l.run.s.sort_dirs[before] = l.value.size() > 1 && l.value[1] == '-' ? -1 : 1;
}

void time(Line& l) {
    l.s.seconds = 1;
    l.s.time_type = 'w';
    if (!l.has_value) {
        l.warn("\nIllegal ini file directive %s");
        l.pause(2);
        return;
    }
    l.s.TIME = 1;
    if (!l.value.empty()) l.s.time_type = static_cast<unsigned char>(l.value[0]);
}

void width(Line& l) {
    if (!l.has_value) {
        l.warn("\nMissing ini file modifier at: %s");
        l.pause(2);
        return;
    }
    l.s.WIDTH = column_width(l.value);
}

void zulu(Line& l) {
    l.s.TIME = 1;
    if (!l.has_value) {
        l.warn("\nIllegal ini file directive %s");
        l.pause(2);
        return;
    }
    l.boolean(l.s.ZULU, std::nullopt);
}

void long_names(Line& l) {
    l.run.s.lfn_width = 32;
    l.s.eight_dot_three = false;
    if (!l.has_value) return;
    if (l.on()) l.s.eight_dot_three = true;
    if (l.off()) l.s.eight_dot_three = false;
    if (!l.value.empty() && l.value[0] >= '0' && l.value[0] <= '9')
        l.run.s.lfn_width = leading_number(l.value);
}

// A digest's key, as the registry names it.
void digest_key(Line& l) {
    const DigestId id = digest_of_ini_line(l.text)->id;
    bool wanted = l.s.digests.has(id);
    l.boolean(wanted, 1);
    l.s.digests.set(id, wanted);
}

// The keys in the order they are tried; the first row that matches
// handles the line.
const Row rows[] = {
    {{"ACCT", "ACCOUNT", "LOG"}, Match::start, accounting},  // ACCTING begins with ACCT
    {{"ALL_HT"}, Match::start, all_hashes_and_times},
    {{"ALL_TIMES", "ALLTIMES"}, Match::start, all_times},
    {{"APPEND"}, Match::start, [](Line& l) { l.boolean(l.s.APPEND, 1); }},
    {{"AUTO"}, Match::start, accepted},
    {{"COMMENT"}, Match::start, comment},
    {{"BLAKE3"}, Match::start, digest_key},
    {{"CRC"}, Match::start, digest_key},
    {{"CSV"}, Match::start, one_mode_of<&RunSettings::table_format, table_csv>},
    {{"DEPTH"}, Match::start, depth},
    {{"DB"}, Match::start, database},
    {{"DELIM"}, Match::anywhere, delimiter},
    {{"DISPLACE"}, Match::anywhere, displacement},
    {{"EXC", "X="}, Match::start, exclude},
    {{"EXT"}, Match::start, extension},
    {{"FILE"}, Match::start, file_mask},
    {{"FDI"}, Match::start, first_512},
    {{"GREATER", "LARGER", "BIGGER"}, Match::anywhere, greater},
    {{"HASHSET"}, Match::start, hash_set},
    {{"HASH"}, Match::start, digest_key},
    {{"JSONL", "JSON"}, Match::start, one_mode_of<&RunSettings::table_format, table_jsonl>},
    {{"KNOWN"}, Match::start, one_mode_of<&RunSettings::hashset_match, hashset_known_only>},
    {{"UNKNOWN"}, Match::start, one_mode_of<&RunSettings::hashset_match, hashset_unknown_only>},
    {{"IMMEDIATE", "NO_COUNT"}, Match::anywhere, accepted},
    {{"LESSTHAN", "SMALLER"}, Match::anywhere, less_than},
    {{"MEMO"}, Match::start, memo},
    {{"MILITARY"}, Match::anywhere, military},
    {{"MILLI"}, Match::anywhere, milliseconds},
    {{"NAMEONLY"}, Match::start, [](Line& l) { l.boolean(l.s.NAMEONLY, 1); }},
    {{"NEWER", "YOUNGER"}, Match::anywhere, newer},
    {{"OLDER"}, Match::anywhere, older},
    {{"ONEFS"}, Match::start, [](Line& l) { l.boolean(l.s.ONEFS, 1); }},
    {{"NUL"}, Match::start, [](Line& l) { l.boolean(l.s.NUL, 1); }},
    {{"OUTPUT"}, Match::start, output},
    {{"PATH"}, Match::start, start_path},
    {{"PRUNE"}, Match::start, prune},
    {{"PPATHONLY"}, Match::start, [](Line& l) { l.boolean(l.s.PPATHONLY, 1); }},
    {{"PAUSE"}, Match::anywhere, [](Line& l) { l.boolean(l.s.PAUSE, 1); }},
    {{"PROGRESS"}, Match::start, [](Line& l) { l.boolean(l.s.precount, 1); }},
    {{"RECURSE"}, Match::anywhere, recurse},
    {{"RESET"}, Match::anywhere, [](Line& l) { l.boolean(l.s.RESET, 1); }},
    {{"REVERSE"}, Match::start, reverse},
    {{"REUSE"}, Match::start, reuse},
    // SHA and the longer digests' keys that begin with it (SHA2, SHA256).
    {{"SHA"}, Match::start, digest_key},
    {{"SILENT", "VERBOSE"}, Match::anywhere, [](Line& l) { l.boolean(l.s.SILENT, 0); }},
    {{"SPLIT"}, Match::start, split},
    {{"STREAM"}, Match::start, stream},
    {{"SORT"}, Match::start, sort},
    {{"TIME"}, Match::anywhere, time},
    {{"DUPES"}, Match::start, [](Line& l) { l.boolean(l.s.DUPES, 1); }},
    {{"TREESIZE"}, Match::start, [](Line& l) { l.boolean(l.s.TREESIZE, 1); }},
    {{"VAR"}, Match::start, [](Line& l) { l.s.VAR = 1; }},
    {{"WIDTH"}, Match::start, width},
    {{"XXH3"}, Match::start, digest_key},
    {{"ZULU", "GMT"}, Match::anywhere, zulu},
    {{"LFN"}, Match::anywhere, long_names},
    {{"8.3"}, Match::anywhere, [](Line& l) { l.s.eight_dot_three = true; }},
};

const Row* matching_row(std::string_view line) {
    // Keys are looked for in the text before "=", never in a value: a path
    // holding "FOLDER" is not an OLDER line.
    const std::string_view key_text = line.substr(0, line.find('='));
    for (const Row& row : rows)
        for (const char* key : row.keys) {
            if (key == nullptr) break;
            if (line.starts_with(key) ||
                (row.match == Match::anywhere && key_text.find(key) != std::string_view::npos))
                return &row;
        }
    return nullptr;
}

void apply_line(Run& run, const std::string& raw) {
    const std::string text = upper(raw);
    if (text.empty() || text[0] == ';' || text[0] == '#' || text[0] == '[') return;
    const Row* row = matching_row(text);
    if (row == nullptr) return;

    Line line{run, run.s, text, {}, {}, false};
    const std::size_t eq = text.find('=');
    if (eq != std::string::npos) {
        line.has_value = true;
        line.value = text.substr(eq + 1);
        // ASCII upper-casing keeps every byte in place, so the position
        // holds in the line as written.
        line.path_value = run.syntax.case_sensitive ? raw.substr(eq + 1) : line.value;
    }
    if (row->apply != comment || line.has_value) run.ini_echo += "\n " + text;
    row->apply(line);
}

}  // namespace

void read_ini_file(Run& run) {
    const auto file = ini_file_text(run);
    if (!file) return;
    run.ini_applied = 1;

    std::size_t at = 0;
    if (!file->section.empty()) {
        // Up to the program's own section header; nothing when it has none.
        bool in_section = false;
        while (!in_section && at < file->lines.size())
            in_section = upper(file->lines[at++]).starts_with(file->section);
        if (!in_section) return;
    }
    for (; at < file->lines.size(); ++at) {
        const std::string& line = file->lines[at];
        if (!file->section.empty()) {
            const std::string text = upper(line);
            if (text.starts_with('[') || contains(text, file->section)) break;
        }
        apply_line(run, line);
    }
}

}  // namespace filarix
