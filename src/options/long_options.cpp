#include "options/long_options.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "core/digest_registry.hpp"
#include "core/parse_actions.hpp"
#include "core/shown_text.hpp"
#include "options/command_line.hpp"
#include "options/date_arguments.hpp"
#include "options/number_text.hpp"
#include "options/option_rules.hpp"
#include "options/start_paths.hpp"
#include "platform/path_syntax.hpp"

namespace filarix {

namespace {

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();
constexpr std::int32_t int32_max = std::numeric_limits<std::int32_t>::max();

// How an entry's words are compared with the option text.
enum class Match {
    prefix,  // the text begins with the word: --rec, --recurse, --RECURSIVE
    exact,   // the whole text is the word
    digest,  // a digest's words, as the registry has them
};

// What an entry expects after the first "=".
enum class Value {
    none,      // nothing; a value is passed over
    optional,  // the handler looks at it when there is one
    required,  // a missing "=" or an empty value makes the option malformed
    on_off,    // nothing, ON or OFF (any case); anything else is malformed
};

// One long option being read.
struct Option {
    Run& run;
    std::u16string_view text;                  // everything after "--"
    std::optional<std::u16string_view> value;  // after the first "=", when there is one
    std::int32_t on = 1;                       // the answer of an ON/OFF value

    bool has_value() const { return value && !value->empty(); }
    bool text_has(char16_t c) const { return text.find(c) != std::u16string_view::npos; }
    std::string narrow(std::u16string_view wide) const { return shown_text(run, wide); }
};

// 0 when the option was handled or ignored, 1 when it is malformed.
using Handler = int (*)(Option&);

struct Entry {
    std::array<std::u16string_view, 3> words;  // unused slots are empty
    Match match;
    Value value;
    Handler handle;
};

// ----- value readers -----

std::u16string full_path_of(Run& run, std::u16string_view name) {
    return full_path_or_name(run, name);
}

// ----- the handlers -----

// The many words that only switch one setting on.
template <auto setting>
int switch_on(Option& o) {
    using Setting = std::remove_reference_t<decltype(o.run.s.*setting)>;
    o.run.s.*setting = static_cast<Setting>(1);
    return 0;
}

// An ON/OFF switch: a bare option or "=ON" sets it, "=OFF" clears it.
template <auto setting>
int switch_to(Option& o) {
    using Setting = std::remove_reference_t<decltype(o.run.s.*setting)>;
    o.run.s.*setting = static_cast<Setting>(o.on);
    return 0;
}

// The driver opens the database before the walk; here it is only named.
int database(Option& o) {
    o.run.s.database_name = std::u16string(*o.value);
    o.run.s.database_kind = database_kind_of(*o.value);
    return 0;
}

template <DigestId id>
int digest_on(Option& o) {
    o.run.s.digests.add(id);
    return 0;
}

int digest_switch(Option& o) {
    o.run.s.digests.add(digest_of_long_option(platform::ascii_upper(o.text))->id);
    return 0;
}

int accepted(Option&) {
    return 0;
}

// Words the table does not know are warned about, and parsing goes on.
int ignored(Option& o) {
    o.run.std_out.printf("\nIllegal or incomplete minusminus option of \"--%s\" IGNORED\n",
                         o.narrow(o.text).c_str());
    o.run.std_out.put("Please check the option compatability and rerun if necessary\n");
    ask_action(o.run, PauseAction{3});
    return 0;
}

// --ADS, --ADS=c, --ADS:c: a character after "=" (or ":") is stored as
// the setting; without one it is 1.
int ads(Option& o) {
    std::u16string_view rest;
    if (o.value) {
        rest = *o.value;
    } else if (const std::size_t colon = o.text.find(u':'); colon != std::u16string_view::npos) {
        rest = o.text.substr(colon + 1);
    }
    o.run.s.ADS = rest.empty() ? 1 : static_cast<std::int32_t>(rest.front());
    o.run.s.RESET = 1;
    return 0;
}

int no_ads(Option& o) {
    o.run.s.NO_ADS = 1;
    o.run.s.STREAM = 0;
    return 0;
}

// The new log is opened with the other sources' logs, once every option
// is read; one already open from the environment or the INI file is
// closed now with a pointer to its successor.
int accounting(Option& o) {
    Run& run = o.run;
    run.s.acct_name = full_path_of(run, *o.value);
    run.s.ACCT = 1;
    ask_action(
        run, CloseLogAction{"Previous log closed, and " + o.narrow(run.s.acct_name) + " opened\n"});
    return 0;
}

// A digest window from a negative offset would read before the file.
int digest_begin(Option& o) {
    const std::int64_t n = leading_number(*o.value);
    o.run.s.DISPLACE = n < 0 ? 0 : n;
    return 0;
}

int digest_end(Option& o) {
    o.run.s.displace_end = leading_number(*o.value);
    return 0;
}

int comment(Option& o) {
    std::u16string_view text = *o.value;
    const std::size_t equals = text.find(u'=');
    if (equals != std::u16string_view::npos && equals + 1 < text.size())
        text = text.substr(0, equals);
    o.run.s.COMMENT = 1;
    o.run.s.comment_text = text;
    return 0;
}

int crc(Option& o) {
    o.run.s.digests.add(DigestId::crc);
    o.run.s.digests.remove(DigestId::sha1);
    o.run.s.digests.remove(DigestId::md5);
    return 0;
}

// Only the delimiter changes; DELIM itself is left to -d, -V and the INI.
int delimiter(Option& o) {
    const std::u16string_view v = *o.value;
    o.run.s.delimiter = v == u"pipe" ? '|' : delimiter_from_text(v);
    return delimiter_allowed(o.run.s.delimiter) ? 0 : 1;
}

int directories_too(Option& o) {
    if (o.run.s.directories < int32_max) ++o.run.s.directories;
    return 0;
}

int drive_letter(Option& o) {
    if (o.value->size() == 1) o.run.s.drive_letter = o.value->front();
    return 0;
}

// add_exclude_mask refuses the mask after the last slot with the -x message.
int exclude(Option& o) {
    o.run.s.EXCLUDE = 1;
    add_exclude_mask(o.run, *o.value);
    return 0;
}

int extension(Option& o) {
    o.run.s.EXT = 1;
    o.run.s.LFN = true;
    o.run.s.lfn_width = 32;
    return 0;
}

int file_mask(Option& o) {
    add_mask(o.run, *o.value);
    return 0;
}

int size_greater(Option& o) {
    const bool separator = o.text_has(u'-') || o.text_has(u'/') || o.text_has(u'\\');
    // A size beyond any number is refused rather than quietly lowered.
    if (separator || !leading_number_fits(*o.value)) {
        o.run.std_out.put("\n\n  Check your option --greater=nnn  format. \n");
        if (separator)
            o.run.std_out.put(
                "  You included a seperator which only pertains to date (--older=YYYY-MM-DD) "
                "formats "
                "in options\n");
        end_run(exit_code::illegal_option);
    }
    o.run.s.GREATER = 1;
    o.run.s.size_greater = leading_number(*o.value);
    return 0;
}

int size_less(Option& o) {
    o.run.s.LESSTHAN = 1;
    o.run.s.size_less = leading_number(*o.value);
    return 0;
}

// The walk goes n levels below each start path; the limit is stored one
// higher so that 0 can mean none.
int levels(Option& o) {
    RunSettings& s = o.run.s;
    s.directories = s.directories > int32_max - 2 ? int32_max : s.directories + 2;
    s.attr_filter = 1;
    s.levels = leading_number_in(*o.value, 0, int32_max - 1) + 1;
    return 0;
}

// Unlike --LEV the listing stays what it is: files and directories down to
// n levels, the start directory's own files being level 1. Only a whole
// positive number is a depth.
int depth(Option& o) {
    const auto n = whole_positive_number(*o.value);
    if (!n) return 1;
    o.run.s.depth = *n;
    return 0;
}

// Each glob as given: the walk compares it under the platform's case rule.
int prune(Option& o) {
    o.run.s.prune_list.emplace_back(*o.value);
    return 0;
}

int memo(Option& o) {
    o.run.s.MEMO = 1;
    // With no name the file dialog asks; without a file the accounting log
    // takes the memo (after parsing).
    ask_action(o.run,
               OpenMemoAction{o.has_value() ? full_path_of(o.run, *o.value) : std::u16string()});
    return 0;
}

int milliseconds(Option& o) {
    o.run.s.MILLI = o.text_has(u'+') ? 0 : 1;
    o.run.s.seconds = 1;
    return 0;
}

int name_after(Option& o) {
    o.run.s.NAMEAFTER = 1;
    // -1 asks for the default width, as when no number is given.
    if (o.has_value()) o.run.s.nameafter_width = leading_number_in(*o.value, -1, column_limit);
    return 0;
}

int newer(Option& o) {
    read_age_value(o.run, *o.value, AgeSide::newer, AgeSource::long_option);
    return 0;
}

int older(Option& o) {
    read_age_value(o.run, *o.value, AgeSide::older, AgeSource::long_option);
    return 0;
}

// Unlike -o, the name is taken as it stands, without date masks.
int output(Option& o) {
    Run& run = o.run;
    run.s.OUTPUT = ListingOutput::file;
    run.s.APPEND = 0;
    run.s.output_name = full_path_of(run, *o.value);
    return 0;
}

int rename_child(Option& o) {
    o.run.s.NOCHILD = nochild_name;
    return 0;
}

int start_path(Option& o) {
    add_start_path(o.run, *o.value);
    return 0;
}

int no_recursion(Option& o) {
    o.run.s.RECURSE = 0;
    return 0;
}

int recursion(Option& o) {
    o.run.s.RECURSE = o.on;
    return 0;
}

int reset(Option& o) {
    o.run.s.RESET = o.on;
    return 0;
}

int seconds(Option& o) {
    o.run.s.seconds = o.text_has(u'+') ? 0 : 1;
    return 0;
}

int sequence(Option& o) {
    o.run.s.SEQUENCE = 1;
    o.run.s.sequence_start = o.has_value() ? leading_number_in(*o.value, 0, int32_max) : 1;
    return 0;
}

// Long paths are sought through the whole tree, and a delimited record
// keeps a long name importable.
int show_long(Option& o) {
    Run& run = o.run;
    run.s.SHOWLONG = 1;
    run.s.RECURSE = 1;
    run.s.DELIM = 1;
    run.s.delimiter = '|';
    if (o.has_value()) run.s.showlong_min = leading_number_in(*o.value, 0, int32_max);
    return 0;
}

int width(Option& o) {
    o.run.s.WIDTH = column_width(*o.value);
    return 0;
}

int silent(Option& o) {
    o.run.s.SILENT = o.on;
    return 0;
}

// A file name keeps its case: on a case-sensitive file system the members
// must go to the file the user named.
int zip_listing(Option& o) {
    Run& run = o.run;
    if (o.has_value() && platform::equal_ignoring_case(*o.value, u"OFF")) {
        run.s.ZIPLOG = 0;
        run.s.RESET = 0;
        return 0;
    }
    run.s.ZIPLOG = 1;
    run.s.RESET = 1;
    if (o.has_value() && !platform::equal_ignoring_case(*o.value, u"ON"))
        run.s.ziplog_name = full_path_of(run, *o.value);
    return 0;
}

int source_file(Option& o) {
    if (!o.has_value()) return ignored(o);
    ask_action(o.run, RequireFileAction{full_path_of(o.run, *o.value), std::u16string(*o.value)});
    return 0;
}

// The set is asked for as the option is read, so that a set file that cannot
// be read ends the run before anything is listed.
int hash_set(Option& o) {
    ask_action(o.run, LoadHashSetAction{std::u16string(*o.value)});
    return 0;
}

// The driver reads the catalogue before the walk; here it is only named.
int diff(Option& o) {
    o.run.s.diff_name = std::u16string(*o.value);
    return 0;
}

// The driver reads the listing before the walk; here it is only named.
int reuse(Option& o) {
    o.run.s.reuse_name = std::u16string(*o.value);
    return 0;
}

template <HashsetMatch mode>
int hash_set_match(Option& o) {
    o.run.s.hashset_match = mode;
    return 0;
}

// --ZULU turns UTC times on; after "=" only ON keeps them on, so that
// --zulu=OFF undoes an INI file's ZULU and --zulu=ON does what it says.
int zulu(Option& o) {
    o.run.s.ZULU = !o.value || platform::equal_ignoring_case(*o.value, u"ON") ? 1 : 0;
    return 0;
}

// --CSV and --JSONL: the last one given is the listing's form.
template <TableFormat format>
int table_format(Option& o) {
    o.run.s.table_format = format;
    return 0;
}

// --help shows the same screens as -? and is an answer, not a fault.
int help(Option& o) {
    // A help that did not arrive whole is no answer: the driver ends the
    // run with a write error then.
    ask_action(o.run, ShowHelpAction{true, true});
    end_process(o.run, exit_code::normal_none);
}

// The words in the order they are tried: the first entry that matches
// wins, so ADSONLY must come before ADS, HASHSET before HASH and so on.
constexpr Entry long_options[] = {
    {{u"AND"}, Match::prefix, Value::none, accepted},
    {{u"CSV"}, Match::exact, Value::none, table_format<table_csv>},
    {{u"JSONL", u"JSON"}, Match::exact, Value::none, table_format<table_jsonl>},
    {{u"PROGRESS"}, Match::prefix, Value::none, switch_on<&RunSettings::precount>},
    {{u"HELP"}, Match::exact, Value::none, help},
    {{u"ACCESS"}, Match::prefix, Value::none, accepted},
    {{u"ADSONLY", u"ADDSONLY", u"ONLYADS"},
     Match::prefix,
     Value::none,
     switch_on<&RunSettings::ADSONLY>},
    {{u"ADS", u"ADDADS", u"ADSADD"}, Match::prefix, Value::optional, ads},
    {{u"NO_ADS", u"NOADS", u"NO-ADS"}, Match::prefix, Value::none, no_ads},
    {{u"ACC", u"LOG"}, Match::prefix, Value::required, accounting},
    {{u"APP"}, Match::prefix, Value::none, switch_on<&RunSettings::APPEND>},
    {{u"BEG"}, Match::prefix, Value::required, digest_begin},
    {{u"END"}, Match::prefix, Value::required, digest_end},
    {{u"COM"}, Match::prefix, Value::required, comment},
    {{u"CRC"}, Match::prefix, Value::none, crc},
    {{u"CREATE"}, Match::prefix, Value::none, accepted},
    {{u"DEL"}, Match::prefix, Value::required, delimiter},
    {{u"DIRSIZE"}, Match::prefix, Value::none, switch_on<&RunSettings::directories>},
    {{u"DIRECT"}, Match::prefix, Value::none, directories_too},
    {{u"DRI"}, Match::prefix, Value::required, drive_letter},
    {{u"EXC"}, Match::prefix, Value::required, exclude},
    {{u"EXT"}, Match::prefix, Value::none, extension},
    {{u"FIL"}, Match::prefix, Value::required, file_mask},
    {{u"HASHSET"}, Match::prefix, Value::required, hash_set},
    {{u"KNOWN"}, Match::prefix, Value::none, hash_set_match<hashset_known_only>},
    {{u"UNKNOWN"}, Match::prefix, Value::none, hash_set_match<hashset_unknown_only>},
    {{u"DIFF"}, Match::prefix, Value::required, diff},
    {{u"DUPES"}, Match::prefix, Value::on_off, switch_to<&RunSettings::DUPES>},
    {{u"DB"}, Match::prefix, Value::required, database},
    {{u"CHANGED"}, Match::prefix, Value::none, switch_on<&RunSettings::CHANGED>},
    {{u"REUSE"}, Match::prefix, Value::required, reuse},
    {{u"GRE", u"BIG", u"LAR"}, Match::prefix, Value::required, size_greater},
    {{u"LES", u"SMA"}, Match::prefix, Value::required, size_less},
    {{u"HASH", u"MD5"}, Match::exact, Value::none, digest_on<DigestId::md5>},
    {{u"IM"}, Match::prefix, Value::none, accepted},
    {{u"LEV"}, Match::prefix, Value::required, levels},
    {{u"DEPTH"}, Match::prefix, Value::required, depth},
    {{u"PRUNE"}, Match::prefix, Value::required, prune},
    {{u"NUL"}, Match::prefix, Value::on_off, switch_to<&RunSettings::NUL>},
    {{u"ONEFS"}, Match::prefix, Value::on_off, switch_to<&RunSettings::ONEFS>},
    {{u"MEMO"}, Match::prefix, Value::optional, memo},
    {{u"MILLI"}, Match::prefix, Value::none, milliseconds},
    {{u"NAMEAFTER"}, Match::prefix, Value::optional, name_after},
    {{u"NEW", u"YOU", u"AFT"}, Match::prefix, Value::required, newer},
    {{u"OLD", u"BEF", u"PRI"}, Match::prefix, Value::required, older},
    {{u"OUT"}, Match::prefix, Value::required, output},
    {{u"NOCHILD"}, Match::prefix, Value::none, switch_on<&RunSettings::NOCHILD>},
    {{u"RENCHILD"}, Match::prefix, Value::none, rename_child},
    {{u"PATH"}, Match::prefix, Value::required, start_path},
    {{u"PAU"}, Match::prefix, Value::none, switch_on<&RunSettings::PAUSE>},
    {{u"PNAME"}, Match::prefix, Value::none, switch_on<&RunSettings::PNAME>},
    {{u"NOR"}, Match::prefix, Value::none, no_recursion},
    {{u"REC"}, Match::prefix, Value::on_off, recursion},
    {{u"RES"}, Match::prefix, Value::on_off, reset},
    {{u"REVERSE"}, Match::exact, Value::none, switch_on<&RunSettings::REVERSE>},
    {{u"SEC"}, Match::prefix, Value::none, seconds},
    {{u"SEQ"}, Match::prefix, Value::optional, sequence},
    // SHA-1 and the longer digests, by the registry's words.
    {{}, Match::digest, Value::none, digest_switch},
    {{u"SHOWAT"}, Match::prefix, Value::none, accepted},
    {{u"SHOWLONG"}, Match::prefix, Value::optional, show_long},
    {{u"STR"}, Match::prefix, Value::on_off, switch_to<&RunSettings::STREAM>},
    {{u"TREESIZE"}, Match::prefix, Value::on_off, switch_to<&RunSettings::TREESIZE>},
    {{u"UTF"}, Match::prefix, Value::none, switch_on<&RunSettings::UTF8>},
    {{u"VAR"}, Match::prefix, Value::none, switch_on<&RunSettings::VAR>},
    {{u"WID"}, Match::prefix, Value::required, width},
    {{u"VER"}, Match::prefix, Value::on_off, silent},
    {{u"ZIP"}, Match::prefix, Value::optional, zip_listing},
    {{u"SOUR"}, Match::prefix, Value::optional, source_file},
    {{u"ZUL", u"GMT", u"UTC"}, Match::prefix, Value::optional, zulu},
};

bool matches(const Entry& entry, std::u16string_view upper) {
    if (entry.match == Match::digest) return digest_of_long_option(upper) != nullptr;
    for (const std::u16string_view word : entry.words) {
        if (word.empty()) continue;
        if (entry.match == Match::exact ? upper == word : upper.substr(0, word.size()) == word)
            return true;
    }
    return false;
}

// Nothing, ON and OFF in any case; nothing when the value is neither.
std::optional<std::int32_t> on_off(const std::optional<std::u16string_view>& value) {
    if (!value || value->empty()) return 1;
    if (platform::equal_ignoring_case(*value, u"ON")) return 1;
    if (platform::equal_ignoring_case(*value, u"OFF")) return 0;
    return std::nullopt;
}

}  // namespace

int read_long_option(Run& run, std::u16string_view text) {
    Option option{run, text, std::nullopt};
    if (const std::size_t equals = text.find(u'='); equals != std::u16string_view::npos)
        option.value = text.substr(equals + 1);
    const std::u16string upper = platform::ascii_upper(text);
    for (const Entry& entry : long_options) {
        if (!matches(entry, upper)) continue;
        switch (entry.value) {
            case Value::required:
                if (!option.has_value()) return 1;
                break;
            case Value::on_off:
                if (const auto on = on_off(option.value))
                    option.on = *on;
                else
                    return 1;
                break;
            case Value::none:
            case Value::optional:
                break;
        }
        return entry.handle(option);
    }
    return ignored(option);
}

}  // namespace filarix
