#include "catalogue/database.hpp"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "catalogue/database_backend.hpp"
#include "core/shown_text.hpp"
#include "options/start_paths.hpp"
#include "record/database_rows.hpp"
#include "record/utf8.hpp"

namespace filarix {

namespace {

constexpr char sqlite_header[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                    'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

bool has_sqlite_header(platform::System& sys, std::u16string_view name) {
    auto file = sys.open_read(name, false);
    if (!file) return false;
    char head[16];
    return file->read_whole(head, sizeof head) == 16 && std::equal(head, head + 16, sqlite_header);
}

// "FILE#N": the file and the run; the whole name and none otherwise.
std::pair<std::u16string, std::optional<std::int64_t>> split_run_number(std::u16string_view name) {
    const std::size_t hash = name.rfind(u'#');
    if (hash == std::u16string_view::npos || hash + 1 >= name.size() || hash + 19 < name.size())
        return {std::u16string(name), std::nullopt};
    std::int64_t n = 0;
    for (const char16_t c : name.substr(hash + 1)) {
        if (c < u'0' || c > u'9') return {std::u16string(name), std::nullopt};
        n = n * 10 + (c - u'0');
    }
    return {std::u16string(name.substr(0, hash)), n};
}

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    out += '"';
}

// The start paths as the walk takes them, each ending in its separator;
// the current directory when none was named, as the driver adds it.
std::string start_paths_json(Run& run) {
    std::vector<std::u16string> roots = run.s.root_list;
    if (roots.empty())
        if (const auto cwd = run.sys.current_directory())
            roots.push_back(stored_start_path(run.syntax, *cwd));
    std::string json = "[";
    for (const std::u16string& root : roots) {
        std::string start = to_utf8_whole(run.syntax, run.syntax.without_long_prefix(root));
        if (start.empty() || start.back() != static_cast<char>(run.syntax.separator))
            start += static_cast<char>(run.syntax.separator);
        if (json.size() > 1) json += ',';
        append_json_string(json, start);
    }
    return json + "]";
}

std::string host_name(Run& run) {
    const auto name = run.sys.computer_name();
    return name ? run.sys.narrow(*name) : std::string();
}

std::string utc_text(Run& run, std::int64_t seconds) {
    const auto ticks = static_cast<platform::FileTicks>(
        (seconds + platform::epoch_difference_seconds) * platform::ticks_per_second);
    const auto t = run.sys.to_utc(ticks);
    if (!t) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t->year, t->month, t->day,
                  t->hour, t->minute, t->second);
    return text;
}

RunFacts facts_of(Run& run) {
    RunFacts facts;
    facts.host = host_name(run);
    for (const char16_t* variable : {u"USER", u"USERNAME", u"LOGNAME"})
        if (const auto user = run.sys.get_env(variable); user && !user->empty()) {
            facts.user = run.sys.narrow(*user);
            break;
        }
    facts.start_paths = start_paths_json(run);
    for (std::size_t i = 1; i < run.args.size(); ++i) {
        if (i > 1) facts.command_line += ' ';
        // A connection's password never reaches the catalogue.
        facts.command_line += without_password(to_utf8_whole(run.syntax, run.args[i]));
    }
    for (const DigestRow& row : digest_rows) {
        if (!shown_digests(run.s).has(row.id)) continue;
        if (!facts.digests.empty()) facts.digests += ',';
        facts.digests += row.field;
    }
    facts.listing_format = run.s.table_format == table_csv     ? "csv"
                           : run.s.table_format == table_jsonl ? "jsonl"
                                                               : "text";
    RunSettings rows = run.s;
    rows.table_format = table_jsonl;
    facts.row_fields = table_fields(rows);
    for (const Field f : facts.row_fields) {
        if (!facts.fields.empty()) facts.fields += ',';
        facts.fields += field_name(f);
    }
    facts.started = utc_text(run, run.start_time);
    platform::System& sys = run.sys;
    facts.now_ms = [&sys] { return sys.now_milliseconds(); };
    facts.load_library = [&sys](std::string_view name) { return sys.load_library(name); };
    return facts;
}

}  // namespace

std::string without_password(std::string text) {
    const std::size_t scheme = text.find("://");
    if (scheme != std::string::npos) {
        const std::size_t at = text.find('@', scheme + 3);
        const std::size_t colon = text.find(':', scheme + 3);
        if (at != std::string::npos && colon < at) text.replace(colon + 1, at - colon - 1, "***");
    }
    for (std::size_t key = text.find("password"); key != std::string::npos;
         key = text.find("password", key + 1)) {
        std::size_t value = text.find_first_not_of(" \t", key + 8);
        if (value == std::string::npos || text[value] != '=') continue;
        value = text.find_first_not_of(" \t", value + 1);
        if (value == std::string::npos) break;
        const std::size_t end = text.find_first_of(" \t&", value);
        text.replace(value, (end == std::string::npos ? text.size() : end) - value, "***");
    }
    return text;
}

void check_database_support(Run& run) {
    if (run.s.database_kind == DatabaseKind::none) return;
    const std::string why = run.s.database_kind == DatabaseKind::postgresql
                                ? server_database_unsupported()
                                : file_database_unsupported();
    if (why.empty()) return;
    run.std_err.printf("\n--DB=%s: %s\n", run.sys.narrow(run.s.database_name).c_str(), why.c_str());
    end_run(exit_code::illegal_option);
}

void open_database(Run& run) {
    if (run.s.database_kind == DatabaseKind::none) return;
    // Messages name it as every name is shown, control characters masked.
    run.database_name = shown_name(run.sys, run.s.database_name);
    std::string error;
    if (run.s.database_kind == DatabaseKind::postgresql) {
        const std::string connection = run.sys.narrow(run.s.database_name);
        run.database_name = without_password(run.database_name);
        run.database = open_server_database(connection, facts_of(run), error);
        if (!run.database) report_database_failure(run, error);
        return;
    }
    // SQLite would put its journal beside a device or a FIFO, and a FIFO
    // could hold the run: only a file (or no file yet) is given to it.
    const std::u16string& name = run.s.database_name;
    if (run.sys.exists(name) && !run.sys.is_directory(name) && !run.sys.open_read(name, false)) {
        report_database_failure(run, "it is no regular file that can be read");
        return;
    }
    run.database =
        open_file_database(to_utf8_whole(run.syntax, run.s.database_name), facts_of(run), error);
    if (!run.database) report_database_failure(run, error);
}

void settle_database(Run& run) {
    if (run.database && !run.database_failed && !run.database->ready())
        report_database_failure(run, run.database->error());
}

int close_database(Run& run, int reason) {
    if (run.database) {
        RunSummary summary;
        summary.outcome = run.database_failed ? RunOutcome::failed
                          : reason < 2        ? RunOutcome::complete
                                              : RunOutcome::aborted;
        summary.files = run.counts.files_found;
        summary.directories = run.counts.directories_counted;
        summary.bytes = run.counts.bytes_found;
        summary.finished = utc_text(run, run.sys.now_seconds());
        if (!run.database->finish(summary)) report_database_failure(run, run.database->error());
        run.database.reset();
    }
    if (run.database_failed && reason < 2) reason = exit_code::output_file;
    return reason;
}

bool names_database(platform::System& sys, std::u16string_view name) {
    if (has_sqlite_header(sys, name)) return true;
    const auto [file, run_id] = split_run_number(name);
    return run_id && has_sqlite_header(sys, file);
}

void read_database_rows(Run& run, std::u16string_view name, const char* purpose,
                        const std::function<void(EarlierEntry&&)>& take) {
    std::u16string file(name);
    std::optional<std::int64_t> run_id;
    if (!has_sqlite_header(run.sys, name)) std::tie(file, run_id) = split_run_number(name);
    EarlierRun which{run_id, host_name(run), start_paths_json(run)};
    std::string error;
    if (!read_file_database(to_utf8_whole(run.syntax, file), which, take, error)) {
        run.std_err.printf("\n%s %s: %s\n", purpose, run.sys.narrow(name).c_str(), error.c_str());
        end_run(exit_code::input_file);
    }
}

}  // namespace filarix
