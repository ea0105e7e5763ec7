#include "options/command_line.hpp"

#include <limits>
#include <new>
#include <optional>
#include <string>

#include "core/parse_actions.hpp"
#include "core/shown_text.hpp"
#include "options/date_arguments.hpp"
#include "options/long_options.hpp"
#include "options/number_text.hpp"
#include "options/option_rules.hpp"
#include "options/output_names.hpp"
#include "options/settings_parser.hpp"
#include "options/start_paths.hpp"

namespace filarix {

namespace {

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();
constexpr std::size_t label_limit = 12;

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > int64_max - b) return int64_max;
    if (b < 0 && a < int64_min - b) return int64_min;
    return a + b;
}

bool contains(std::u16string_view text, char16_t c) {
    return text.find(c) != std::u16string_view::npos;
}

bool begins_with(std::u16string_view text, char16_t c) {
    return !text.empty() && text[0] == c;
}

// The digest window of -D: "start", or "start" separator "second", with an
// optional o (second is an offset) or c (a count, the default) at the end.
void read_digest_window(Run& run, std::u16string_view value) {
    std::size_t separator = std::u16string_view::npos;
    for (char16_t c : {u',', u':', u';', u'.'}) {
        separator = value.find(c);
        if (separator != std::u16string_view::npos) break;
    }
    const std::int64_t start = leading_number(value);
    const std::int64_t second =
        separator == std::u16string_view::npos ? 0 : leading_number(value.substr(separator + 1));
    const char16_t last = value.empty() ? u'\0' : value.back();
    const bool offset = last == u'o' || last == u'O';
    run.s.DISPLACE = start == int64_min ? start : start - 1;  // the value counts from 1
    run.s.displace_end = second;
    if (!offset && second != 0) run.s.displace_end = saturating_add(second, run.s.DISPLACE);
    if (run.s.DISPLACE < 0) run.s.DISPLACE = 0;
}

// The comment of -C: "COMPUTERNAME..." keeps only that word; otherwise a
// "=" with something after it cuts the text there.
std::u16string comment_of(std::u16string_view value) {
    constexpr std::u16string_view word = u"COMPUTERNAME";
    if (value.size() > word.size() &&
        platform::equal_ignoring_case(value.substr(0, word.size()), word))
        return std::u16string(value.substr(0, word.size()));
    const std::size_t equals = value.find(u'=');
    if (equals != std::u16string_view::npos && equals + 1 < value.size())
        return std::u16string(value.substr(0, equals));
    return std::u16string(value);
}

// The licence notice of the program's code, the digest code included: all
// of it is FILARIX64's own.
void show_sha_notice(Run& run) {
    run.std_out.put(
        "\nFILARIX64, its CRC-32, MD5, SHA-1, SHA-2 and SHA-3 code included\n"
        "Copyright (c) the FILARIX64 authors\n\n"
        "Permission is hereby granted, free of charge, to any person obtaining a copy\n"
        "of this software and associated documentation files (the \"Software\"), to deal\n"
        "in the Software without restriction, including without limitation the rights\n"
        "to use, copy, modify, merge, publish, distribute, sublicense, and/or sell\n"
        "copies of the Software, and to permit persons to whom the Software is\n"
        "furnished to do so, subject to the following conditions:\n\n"
        "The above copyright notice and this permission notice shall be included in\n"
        "all copies or substantial portions of the Software.\n\n"
        "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR\n"
        "IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY,\n"
        "FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE\n"
        "AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER\n"
        "LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,\n"
        "OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE\n"
        "SOFTWARE.\n");
}

class OptionScanner {
public:
    explicit OptionScanner(Run& run) : run_(run), s_(run.s), args_(run.args) {}

    void scan(std::size_t first) {
        for (i_ = first; i_ < args_.size(); ++i_) {
            // A copy: the letters below may step i_ on to later arguments.
            arg_ = args_[i_];
            if (arg_ == u"-.ini") continue;
            if (!is_option_argument(run_, arg_)) extra_item();
            plus_ = arg_[0] == u'+';
            done_ = false;
            // Several letters may share one introducer: -rcs is -r -c -s.
            for (k_ = 1; k_ < arg_.size() && !done_; ++k_) letter(arg_[k_]);
        }
    }

private:
    // ----- value forms -----

    // The rest of the argument after the current letter; ends the argument.
    std::u16string rest() {
        done_ = true;
        return arg_.substr(k_ + 1);
    }

    // The attached value or, when nothing is attached, the next argument.
    // Nothing when that is missing or refused for beginning with "-".
    std::optional<std::u16string> value(bool skip_equals, bool refuse_dash) {
        std::u16string attached = rest();
        if (skip_equals && begins_with(attached, u'=')) attached.erase(0, 1);
        if (!attached.empty()) return attached;
        if (i_ + 1 >= args_.size()) return std::nullopt;
        if (refuse_dash && begins_with(args_[i_ + 1], u'-')) return std::nullopt;
        return args_[++i_];
    }

    std::u16string required(bool skip_equals, bool refuse_dash) {
        auto v = value(skip_equals, refuse_dash);
        if (!v) end_run(exit_code::illegal_option);
        return *v;
    }

    // A value whose absence shows the help screens before the run ends.
    std::u16string required_or_help(bool skip_equals, bool refuse_dash) {
        auto v = value(skip_equals, refuse_dash);
        if (!v) help_and_end();
        return *v;
    }

    // The arguments after the current one up to the first that starts an
    // option; empty ones are passed over, as they name nothing.
    template <typename Stop, typename Take>
    void list(Stop stops, Take take) {
        done_ = true;
        while (i_ + 1 < args_.size() && !stops(args_[i_ + 1])) {
            const std::u16string item = args_[++i_];
            if (!item.empty()) take(item);
        }
    }

    // The + form of -1 and -R: a "+" just before the letter.
    bool plus_before() const { return k_ > 0 && arg_[k_ - 1] == u'+'; }

    std::string narrow(std::u16string_view text) { return shown_text(run_, text); }

    // ----- ends -----

    [[noreturn]] void extra_item() {
        run_.std_out.printf("\nThere appears to be an extra or eroneous item \"%s\"\n",
                            narrow(arg_).c_str());
        run_.std_out.put("at the end of the command line\n");
        run_.std_out.put("Please check your syntax, and correct to problem.\n");
        end_run(exit_code::illegal_option);
    }

    [[noreturn]] void illegal_letter() {
        run_.std_out.printf("\nIllegal option %s\n", narrow(arg_.substr(k_)).c_str());
        ask_action(run_, PauseAction{2});
        end_run(exit_code::illegal_option);
    }

    [[noreturn]] void help_and_end() {
        ask_action(run_, ShowHelpAction{});
        end_run(exit_code::illegal_option);
    }

    // ----- the letters -----

    void letter(char16_t c) {
        switch (c) {
            case u'-':
                long_option();
                break;
            case u'+':
                break;  // marks the + form of the letter after it
            case u'1':
                accounting_file();
                break;
            case u'5':
                s_.digests.add(DigestId::md5);
                break;
            case u'8':
                short_and_long_names();
                break;
            case u'9':
                break;
            case u'?':
                ask_action(run_, ShowHelpAction{true});
                end_run(exit_code::illegal_option);
            case u'@':
                show_sha_notice(run_);
                end_process(run_, exit_code::illegal_option);
            case u'A':
                attribute_filter();
                break;
            case u'a':
                s_.APPEND = !plus_;
                break;
            case u'b':
                run_.s.DISPLACE = 512;
                break;
            case u'C':
                comment();
                break;
            case u'c':
                s_.digests.add(DigestId::crc);
                break;
            case u'D':
                read_digest_window(run_, required(false, true));
                break;
            case u'd':
                delimiter();
                break;
            case u'E':
            case u'e':
                command(c == u'E' ? 2 : 1);
                break;
            case u'F':
                s_.fixed = 1;
                break;
            case u'f':
                file_types();
                break;
            case u'G':
                size_greater();
                break;
            case u'g':
                age(AgeSide::older);
                break;
            case u'H':
            case u'h':
                header_file(c == u'H');
                break;
            case u'I':
                given_label();
                break;
            case u'i':
                s_.label = 1;
                ask_action(run_, NextLabelAction{label_limit});
                break;
            case u'L':
                s_.LESSTHAN = 1;
                run_.s.size_less = leading_number(required(false, true));
                break;
            case u'l':
                age(AgeSide::newer);
                break;
            case u'M':
                // Accepted for old scripts: nothing measures the width first.
                break;
            case u'm':
                s_.TIME = plus_ ? 1 : !s_.TIME;
                break;
            case u'N':
                if (plus_) {
                    s_.PPATHONLY = 0;
                } else {
                    s_.PPATHONLY = !s_.PPATHONLY;
                    s_.NAMEONLY = 1;
                }
                break;
            case u'n':
                s_.NAMEONLY = plus_ ? 0 : !s_.NAMEONLY;
                break;
            case u'O':
            case u'o':
                output(c == u'O');
                break;
            case u'P':
                s_.PAUSE = !s_.PAUSE;
                break;
            case u'p':
                list(
                    [](std::u16string_view a) {
                        return begins_with(a, u'-') || begins_with(a, u'+');
                    },
                    [this](const std::u16string& path) { add_path_argument(run_, path); });
                break;
            case u'q':
                s_.attr_filter = 1;
                // The letters after "q-" or "q+" are read and change nothing else.
                if (k_ + 1 < arg_.size() && (arg_[k_ + 1] == u'-' || arg_[k_ + 1] == u'+'))
                    done_ = true;
                break;
            case u'R':
                s_.RESET = plus_before() ? 0 : s_.RESET + 1;
                break;
            case u'r':
                s_.RECURSE = plus_ ? 1 : !s_.RECURSE;
                break;
            case u'S':
                s_.STREAM = plus_ ? 1 : !s_.STREAM;
                break;
            case u's':
                s_.digests.add(DigestId::sha1);
                break;
            case u'T':
            case u't':
                time_column(c == u'T');
                break;
            case u'U':
                owner_filter();
                break;
            case u'u':
                ++s_.owner;
                break;
            case u'V':
                s_.VAR = 1;
                break;
            case u'v':
                ++s_.SILENT;
                break;
            case u'W':
            case u'w':
                width(c == u'W' ? 2 : 1);
                break;
            case u'X':
                rest();
                break;
            case u'x':
                exclude();
                break;
            case u'Y':
            case u'y':
                s_.SORT = 1;
                append_sort_keys(run_, required(false, true));
                break;
            case u'Z':
            case u'z':
                s_.ZULU = 1;
                break;
            default:
                illegal_letter();
        }
    }

    void long_option() {
        const std::u16string text = rest();
        if (read_long_option(run_, text) != 0) {
            run_.std_out.printf("\nIllegal option: %s", narrow(text).c_str());
            end_run(exit_code::illegal_option);
        }
    }

    void accounting_file() {
        if (plus_before()) {
            rest();
            s_.ACCT = 0;
            ask_action(run_, CloseLogAction{});
            return;
        }
        const std::u16string name = required_or_help(false, true);
        const auto full = resolved_path(run_, name);
        run_.s.acct_name = full ? *full : name;
        s_.ACCT = 1;
        // The new file is opened once all the options are read.
        ask_action(run_,
                   CloseLogAction{"This file closed.\nAccounting file overridden by option -1 file "
                                  "pointing to " +
                                  narrow(run_.s.acct_name) + "\n"});
    }

    // -8: 8.3 names; -8e/-8E: with the extension column; -88: long names;
    // -88nn: long names nn wide.
    void short_and_long_names() {
        const char16_t next = k_ + 1 < arg_.size() ? arg_[k_ + 1] : u'\0';
        if (next != u'8') {
            s_.eight_dot_three = true;
            s_.LFN = false;
            if (next == u'e' || next == u'E') extension_column(rest());
            return;
        }
        s_.eight_dot_three = false;
        ++k_;
        const std::u16string text = rest();
        if (text.empty()) {
            s_.LFN = true;
            return;
        }
        s_.LFN = true;
        std::size_t digits = 0;
        while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') ++digits;
        // Without a number the width stays as it was rather than becoming 0.
        if (digits > 0) run_.s.lfn_width = column_width(text.substr(0, digits));
        extension_column(std::u16string_view(text).substr(digits));
    }

    void extension_column(std::u16string_view text) {
        if (contains(text, u'E')) s_.EXT = 2;
        if (contains(text, u'e')) s_.EXT = 1;
    }

    void attribute_filter() {
        const std::u16string letters = rest();
        if (letters.empty()) {
            run_.std_err.put("\n-A option needs a modifier [rhms]\n");
            end_run(exit_code::illegal_option);
        }
        s_.attr_filter = 1;
        for (char16_t c : letters) {
            switch (c) {
                case u'd':
                    s_.directories += 1;
                    break;
                case u'D':
                    s_.directories += 2;
                    break;
                case u'h':
                case u'H':
                    s_.attr_hidden = 1;
                    break;
                case u'm':
                case u'M':
                    s_.attr_archive = 1;
                    break;
                case u'r':
                case u'R':
                    s_.attr_readonly = 1;
                    break;
                case u's':
                case u'S':
                    s_.attr_system = 1;
                    break;
                case u'e':
                case u'E':
                    s_.attr_encrypted = 1;
                    break;
                default:
                    break;
            }
        }
    }

    void comment() {
        run_.s.comment_text = comment_of(required_or_help(false, true));
        s_.COMMENT = 1;
    }

    void delimiter() {
        const std::u16string v = required(true, true);
        s_.DELIM = 1;
        run_.s.delimiter = delimiter_from_text(v);
        if (!delimiter_allowed(run_.s.delimiter)) {
            run_.std_out.printf("\nIllegal option %s %s\n", narrow(arg_).c_str(),
                                narrow(v).c_str());
            end_run(exit_code::illegal_option);
        }
    }

    void command(int weight) {
        s_.execute += weight;
        if (k_ + 1 < arg_.size() && arg_[k_ + 1] == u'P') s_.execute_cd = 1;
        done_ = true;
        if (i_ + 1 >= args_.size()) {
            run_.std_err.put("-[eE] option requres a command to follow it\n");
            end_run(exit_code::illegal_option);
        }
        const std::u16string& template_text = args_[++i_];
        try {
            std::u16string text = resolve_command_program(run_, template_text);
            // The file name goes at the end unless the template places it.
            if (!contains(text, u'%')) text += u" % ";
            run_.s.command_text = std::move(text);
        } catch (const std::bad_alloc&) {
            run_.std_out.put("Can't create buffer for command\n");
            end_run(exit_code::memory_error);
        }
    }

    void file_types() {
        // A mask names files, never a directory: the path goes to -p.
        const char16_t separator = run_.syntax.separator;
        list([this](std::u16string_view a) { return is_option_argument(run_, a); },
             [this, separator](const std::u16string& mask) {
                 if (contains(mask, separator)) {
                     run_.std_err.printf("Can't have a %c in the file type option\n",
                                         static_cast<char>(separator));
                     end_run(exit_code::illegal_option);
                 }
                 add_mask(run_, mask);
             });
    }

    void size_greater() {
        const std::u16string v = required(false, true);
        const bool separator = contains(v, u'-') || contains(v, u'/') || contains(v, u'\\');
        // A size beyond any number is refused rather than quietly lowered.
        if (separator || !leading_number_fits(v)) {
            run_.std_out.put("\n\nCheck your option -G format. \n");
            if (separator)
                run_.std_out.put(
                    "You included a seperator which only pertains to date formats in options\n");
            end_run(exit_code::illegal_option);
        }
        s_.GREATER = 1;
        run_.s.size_greater = leading_number(v);
    }

    void age(AgeSide side) {
        const std::u16string v = required_or_help(true, false);
        s_.aging = 1;
        (side == AgeSide::older ? s_.OLDER : s_.NEWER) = 1;
        read_age_value(run_, v, side, AgeSource::command_line);
    }

    void header_file(bool header_only) {
        const bool plus = plus_;
        const std::u16string name = required(false, false);
        s_.signature_check = plus ? signature_plus : signature_minus;
        if (header_only) s_.header_only = 1;
        const auto full = resolved_path(run_, name);
        run_.s.header_file = full ? *full : name;
        ask_action(run_, LoadSignaturesAction{});
    }

    void given_label() {
        std::u16string text = rest();
        if (text.empty()) {
            const bool usable = i_ + 1 < args_.size() && !args_[i_ + 1].empty() &&
                                !begins_with(args_[i_ + 1], u'-') &&
                                !begins_with(args_[i_ + 1], u'/');
            if (!usable) {
                run_.std_err.put("\n\n\n");
                run_.std_err.printf("You didn't provide a label %c\n", '\a');
                end_run(exit_code::illegal_option);
            }
            text = args_[++i_];
        }
        s_.label = 1;
        run_.s.label_text = narrow(text).substr(0, label_limit);
    }

    void output(bool append) {
        if (plus_) {
            rest();
            s_.APPEND = 0;
            s_.OUTPUT = ListingOutput::console;
            return;
        }
        if (append) s_.APPEND = 1;
        const std::u16string name = required(false, true);
        s_.OUTPUT = ListingOutput::file;
        if (platform::equal_ignoring_case(name, u"stdout")) {
            s_.OUTPUT = ListingOutput::standard_output;
            s_.APPEND = 0;
            return;
        }
        const auto full = resolved_path(run_, name);
        run_.s.output_name = full ? *full : name;
        // A date mask follows a separator; the computer's name may stand anywhere.
        const std::u16string sep(1, run_.syntax.separator);
        const std::u16string& full_name = run_.s.output_name;
        bool masked = full_name.find(u"COMPUTERNAME") != std::u16string::npos;
        for (const char16_t* trigger : {u"MMDD", u"YYMM", u"YYYY"})
            if (full_name.find(sep + trigger) != std::u16string::npos) masked = true;
        if (masked) ask_action(run_, DateOutputNameAction{});
    }

    void time_column(bool year_first) {
        s_.time_type = 'w';
        if (year_first) s_.REVERSE = 1;
        // The off form takes no value: the letters after it are options.
        if (plus_) {
            s_.TIME = 0;
            return;
        }
        s_.TIME = 1;
        char16_t kind;
        if (k_ + 1 < arg_.size()) {
            kind = arg_[++k_];
        } else {
            done_ = true;
            if (i_ + 1 >= args_.size() || args_[i_ + 1].empty()) end_run(exit_code::illegal_option);
            kind = args_[++i_][0];
        }
        s_.time_type = static_cast<std::int32_t>(kind);
        switch (kind) {
            case u'0':
                s_.TIME = 0;
                s_.ZULU = 0;
                break;
            case u'W':
            case u'C':
            case u'A':
                s_.time_type = static_cast<std::int32_t>(kind - u'A' + u'a');
                s_.seconds = 1;
                break;
            default:
                break;
        }
    }

    void owner_filter() {
        std::u16string name = rest();
        if (name.empty()) {
            const bool usable = i_ + 1 < args_.size() && !args_[i_ + 1].empty() &&
                                !begins_with(args_[i_ + 1], u'-');
            if (!usable) {
                s_.owner = 1;
                return;
            }
            name = args_[++i_];
        }
        run_.s.owner_name = narrow(name);
        s_.owner = 3;
    }

    void width(int weight) {
        if (plus_) {
            rest();
        } else {
            s_.WIDTH = column_width(required(true, false));
        }
        s_.width_set += weight;
        s_.VAR = 0;
    }

    void exclude() {
        s_.EXCLUDE = 1;
        run_.s.exclude_list.clear();
        if (i_ + 1 < args_.size() && begins_with(args_[i_ + 1], u'-')) {
            ask_action(run_, ShowHelpAction{});
            end_process(run_, exit_code::illegal_option);
        }
        list([this](std::u16string_view a) { return is_option_argument(run_, a); },
             [this](const std::u16string& mask) { add_exclude_mask(run_, mask); });
    }

    Run& run_;
    RunSettings& s_;
    const std::vector<std::u16string>& args_;
    std::size_t i_ = 0;   // the argument being read
    std::size_t k_ = 0;   // the letter being read in it
    std::u16string arg_;  // a copy of that argument
    bool plus_ = false;   // its introducer is "+"
    bool done_ = false;   // its letters are used up
};

}  // namespace

void append_sort_keys(Run& run, std::u16string_view keys) {
    const std::size_t last_key = run.s.sort_keys.size() - 2;  // the last slot holds the end mark
    for (char16_t key : keys) {
        if (key == u'0') break;
        if (run.s.sort_keys_given > last_key) break;
        run.s.sort_keys[run.s.sort_keys_given] = key;
        run.s.sort_dirs[run.s.sort_keys_given] = key < u'_' ? -1 : 1;
        ++run.s.sort_keys_given;
    }
    run.s.sort_keys[run.s.sort_keys_given] = RunSettings::sort_end;
}

void parse_options(Run& run, std::size_t first) {
    OptionScanner(run).scan(first);
}

void add_exclude_mask(Run& run, std::u16string_view mask) {
    if (exclude_list_full(run.s.exclude_list.size())) {
        report_exclude_list_full(run.std_out);
        end_run(exit_code::illegal_option);
    }
    run.s.exclude_list.push_back(platform::ascii_upper(mask));
}

}  // namespace filarix
