#include "options/settings_parser.hpp"

#include <algorithm>

#include "core/digest_registry.hpp"
#include "core/listing_file.hpp"
#include "core/parse_actions.hpp"
#include "core/shown_text.hpp"
#include "options/command_line.hpp"
#include "options/environment.hpp"
#include "options/ini_file.hpp"
#include "options/number_text.hpp"
#include "options/option_rules.hpp"
#include "options/output_names.hpp"
#include "options/start_paths.hpp"

namespace filarix {

bool is_option_argument(const Run& run, std::u16string_view argument) {
    if (argument.empty()) return false;
    const char16_t c = argument.front();
    // On POSIX "/" begins every absolute path, so it cannot introduce options.
    return c == u'-' || c == u'+' || (c == u'/' && run.syntax.drive_letters);
}

namespace {

// Names for xargs -0 are the listing itself: they take the place of CSV
// and JSON Lines rows, keep the walk's order (a sort reads lines, and a
// name may hold a line feed), and go to the standard output rather than
// to the console's error stream.
void settle_name_list(RunSettings& s) {
    s.table_format = table_none;
    s.SORT = false;
    if (s.OUTPUT == ListingOutput::console) s.OUTPUT = ListingOutput::standard_output;
}

}  // namespace

void parse_settings(Run& run) {
    // Whether the standard output is for rows alone is known only once
    // every source has spoken: what they write there waits until then, or
    // until a source ends the run.
    run.std_out.hold();
    const auto settle_standard_output = [&run] {
        if (run.s.NUL) settle_name_list(run.s);
        if (run.s.table_format || run.s.NUL) keep_standard_output_for_rows(run);
        run.std_out.release();
    };
    try {
        read_environment(run);
        bool skip_ini = false;
        for (std::size_t i = 1; i < run.args.size(); ++i)
            if (run.args[i] == u"-.ini") skip_ini = true;
        if (!skip_ini) read_ini_file(run);

        std::size_t i = 1;
        for (; i < run.args.size() && !is_option_argument(run, run.args[i]); ++i)
            add_bare_argument(run, run.args[i]);
        parse_options(run, i);
    } catch (...) {
        settle_standard_output();
        throw;
    }
    settle_standard_output();
    apply_consistency_rules(run);
}

namespace {

// The comment is padded from the record's blank fill, which holds 199.
constexpr std::size_t comment_fill_limit = 199;

void pad_comment(std::u16string& text, std::size_t width) {
    if (width > text.size()) text.append(std::min(width - text.size(), comment_fill_limit), u' ');
}

void prepare_comment(Run& run) {
    std::u16string& text = run.s.comment_text;
    constexpr std::u16string_view key = u"COMPUTERNAME";
    if (text.size() >= key.size() &&
        platform::equal_ignoring_case(std::u16string_view(text).substr(0, key.size()), key)) {
        std::u16string_view rest = std::u16string_view(text).substr(key.size());
        if (!rest.empty() && rest.front() == u':') rest.remove_prefix(1);
        const std::size_t width = comment_width(rest);
        const auto computer = computer_name(run);
        if (!computer) return;
        std::u16string name = computer->substr(0, 12);
        pad_comment(name, width);
        if (!run.s.DELIM) name.push_back(char16_t(static_cast<unsigned char>(run.s.delimiter)));
        text = std::move(name);
        return;
    }
    const std::size_t colon = text.find(u':');
    if (colon == std::u16string::npos) return;
    const std::size_t width = comment_width(std::u16string_view(text).substr(colon + 1));
    text.resize(colon);
    pad_comment(text, width);
}

void open_log(Run& run) {
    ask_action(run, OpenLogAction{run.s.acct_name});
}

}  // namespace

void apply_consistency_rules(Run& run) {
    RunSettings& s = run.s;
    if (run.s.filetype_list.empty()) run.s.filetype_list.push_back(u"*.*");
    if (s.ZULU && !s.TIME) {
        s.TIME = 1;
        s.time_type = 'w';
    }
    if (s.ALL_HT) s.digests.add(DigestId::md5);
    if (s.ACCT) {
        open_log(run);
        if (!run.log) run.std_out.put("\nAccounting file not opened\n");
    }
    if (!run.log && s.SPLIT) {
        s.ACCT = 1;
        run.s.acct_name = run.s.output_name + u".log";
        open_log(run);
    }
    if (s.SILENT && !s.ACCT) {
        run.s.acct_name = automatic_log_name(run);
        s.ACCT = 1;
        run.std_out.printf("\nno logfile option (-1) found. Auto logfile created\n%s\n\n",
                           shown_text(run, run.s.acct_name).c_str());
        open_log(run);
    }
    if (s.time_type == '0' && (s.MILLI || s.seconds)) s.time_type = 'w';
    if (s.RESET == 1 && !s.signature_check && shown_digests(s).empty() && !s.HASHSET) {
        run.std_out.put(
            "\n\n   No hashing options were chosen, so options RESET, -R is set to 0\n");
        run.std_out.put("   To FORCE reset use dual option: -R  -R\n\n");
        s.RESET = 0;
    }
    if (s.VAR && !s.DELIM) {
        s.DELIM = 1;
        if (run.s.delimiter == ' ') run.s.delimiter = '|';
    }
    if (s.MEMO) ask_action(run, MemoPromptAction{});
    if (s.ADS) s.STREAM = 0;
}

void settle_settings(Run& run) {
    RunSettings& s = run.s;
    if (s.PNAME) {
        const NameParts p = split_output_name(run.syntax, s.output_name);
        s.output_name = p.drive + p.directory + run.program_name + u"_" + p.name + p.extension;
    }
    if (s.NAMEONLY) s.RECURSE = 0;
    if (s.TIME && s.time_type == '0') s.time_type = 'w';
    // The comment and the label are written into every record: a control
    // character there would split records or steer a terminal.
    mask_controls(s.comment_text);
    mask_controls(s.label_text);
    if (s.COMMENT == 1) prepare_comment(run);

    if (s.directories && !s.RECURSE) s.RECURSE = 1;
    // A sort by CRC needs the CRC column; a sort by date in a listing file
    // needs a date column.
    for (std::size_t k = 0; k < s.sort_keys.size() && s.sort_keys[k] != RunSettings::sort_end;
         ++k) {
        const int key = s.sort_keys[k];
        if (key == 'c' || key == 'C') s.digests.add(DigestId::crc);
        if (s.OUTPUT != ListingOutput::console && s.time_type == '0' &&
            (key == 'y' || key == 'Y' || key == 'm' || key == 'M' || key == 'd' || key == 'D')) {
            s.TIME = 1;
            s.time_type = 'w';
        }
    }
    if (s.fixed && s.time_type == '0') {
        s.TIME = 1;
        s.time_type = '3';
    }
    // Named streams exist only on NT-based Windows; elsewhere the volume says.
    if (run.syntax.drive_letters) {
        const auto os = environment_value(run, u"OS");
        if (!os || os->find(u"NT") == std::u16string::npos) s.STREAM = 0;
    }
    // A path column of no width would lose the path: the whole name goes to
    // the end of the record instead, as the name-after column writes it.
    if (!s.NAMEONLY && !s.VAR && s.WIDTH <= 0 && !s.NAMEAFTER) {
        s.NAMEAFTER = 1;
        s.nameafter_width = 0;
    }
    if (s.NAMEAFTER && s.nameafter_width == -1) s.nameafter_width = 50;
    // Long paths are shown whole; the delimiter stays as it was chosen.
    if (s.SHOWLONG && s.WIDTH == 54) s.VAR = 1;
    // A compare classes every entry and writes the rows it missed as
    // removed; a listing of duplicates holds few of them.
    if (s.DUPES && !s.diff_name.empty()) {
        run.std_err.put("\n--DUPES and --DIFF cannot be used together\n");
        end_run(exit_code::illegal_option);
    }
}

}  // namespace filarix
