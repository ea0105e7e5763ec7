#include "options/settings_parser.hpp"

#include "core/log_file.hpp"
#include "options/start_paths.hpp"
#include "options/command_line.hpp"
#include "options/environment.hpp"
#include "options/ini_file.hpp"
#include "options/memo.hpp"
#include "options/output_names.hpp"

bool is_option_argument(const Run& run, std::u16string_view argument) {
    if (argument.empty()) return false;
    const char16_t c = argument.front();
    // On POSIX "/" begins every absolute path, so it cannot introduce options.
    return c == u'-' || c == u'+' || (c == u'/' && run.syntax.drive_letters);
}

void parse_settings(Run& run) {
    run.sort_keys.fill(0);
    run.sort_dirs.fill(0);
    run.sort_keys[0] = 'n';
    run.sort_dirs[0] = 1;
    run.sort_keys[1] = 999;
    run.sort_keys_given = 0;
    run.exclude_list.clear();

    read_environment(run);
    bool skip_ini = false;
    for (std::size_t i = 1; i < run.args.size(); ++i)
        if (run.args[i] == u"-.ini") skip_ini = true;
    if (!skip_ini) read_ini_file(run);

    std::size_t i = 1;
    for (; i < run.args.size() && !is_option_argument(run, run.args[i]); ++i)
        add_start_path(run, run.args[i]);
    parse_options(run, i);
    apply_consistency_rules(run);
}

namespace {

void open_log(Run& run) {
    if (run.log) {
        run.log->close();
        run.log.reset();
    }
    run.log = open_accounting_log(run, run.acct_name);
}

}  // namespace

void apply_consistency_rules(Run& run) {
    RunSettings& s = run.s;
    if (run.filetype_list.empty()) run.filetype_list.push_back(u"*.*");
    if (s.ZULU && !s.TIME) {
        s.TIME = 1;
        s.time_type = 'w';
    }
    if (s.ALL_HT) s.HASH = 1;
    if (s.ACCT) {
        open_log(run);
        if (!run.log) run.std_out.put("\nAccounting file not opened\n");
    }
    if (!run.log && s.SPLIT) {
        s.ACCT = 1;
        run.acct_name = run.output_name + u".log";
        open_log(run);
    }
    if (s.SILENT && !s.ACCT) {
        run.acct_name = automatic_log_name(run);
        s.ACCT = 1;
        run.std_out.printf("\nno logfile option (-1) found. Auto logfile created\n%s\n\n",
                           run.sys.narrow(run.acct_name).c_str());
        open_log(run);
    }
    if (s.time_type == '0' && (s.MILLI || s.seconds)) s.time_type = 'w';
    if (s.RESET == 1 && !s.signature_check && !s.CRC && !s.SHA && !s.HASH && !s.SHA2 && !s.SHA3 &&
        !s.SHA5) {
        run.std_out.put(
            "\n\n   No hashing options were chosen, so options RESET, -R is set to 0\n");
        run.std_out.put("   To FORCE reset use dual option: -R  -R\n\n");
        s.RESET = 0;
    }
    if (s.VAR && !s.DELIM) {
        s.DELIM = 1;
        if (run.delimiter == ' ') run.delimiter = '|';
    }
    if (s.MEMO) {
        if (!run.memo_stream) run.memo_stream = run.log.get();
        if (run.memo_stream) memo_prompt(run);
    }
    if (s.ADS) s.STREAM = 0;
}
