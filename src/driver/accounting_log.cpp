#include "driver/accounting_log.hpp"

#include <cctype>
#include <new>

#include "driver/termination.hpp"

namespace {

constexpr const char* source_tag = "Generic_64";
// Enough asterisks for every row the log writes.
constexpr const char* asterisks = "*****************************************************";
// The end clean-up reads the log in blocks of this size.
constexpr std::size_t scan_block = 64 * 1024;

// The drive and directory part of a path ("C:\logs\" of "C:\logs\run.log").
std::u16string directory_part(const platform::PathSyntax& syntax, std::u16string_view path) {
    const std::size_t drive = syntax.drive_letters && path.size() >= 2 && path[1] == u':' ? 2 : 0;
    const std::size_t sep = syntax.last_separator(path);
    if (sep == std::u16string_view::npos || sep < drive)
        return std::u16string(path.substr(0, drive));
    return std::u16string(path.substr(0, sep + 1));
}

// False when the log's directory is missing and could not be made.
bool make_log_directory(Run& run, std::u16string_view name) {
    std::u16string directory = directory_part(run.syntax, name);
    if (directory.empty()) return true;  // the current directory
    if (run.syntax.is_separator(directory.back())) directory.pop_back();
    if (directory.empty() || run.sys.exists(directory)) return true;
    // Each missing level is made in turn; only levels really made are
    // reported, so a path that cannot be made shows no false message.
    for (std::size_t i = 2; i < directory.size(); ++i) {
        if (!run.syntax.is_separator(directory[i])) continue;
        const std::u16string partial = directory.substr(0, i);
        if (run.sys.exists(partial) || !run.sys.create_directory(partial)) continue;
        run.std_out.printf("Creating (log\\error) directory:  %s\n",
                           run.sys.narrow(partial).c_str());
    }
    if (!run.sys.create_directory(directory)) return false;
    run.std_out.printf("Creating (log) directory:  %s\n", run.sys.narrow(directory).c_str());
    run.sys.sleep_ms(1000);
    return true;
}

// A log whose end was damaged (a crash left zero bytes, an old editor a
// Ctrl+Z) loses everything from the first such byte on, so that the new
// block follows readable text.
void clean_log_end(Run& run, std::u16string_view name) {
    auto file = run.sys.open_update(name, false);
    if (!file) file = run.sys.open_update(name, true);
    if (!file) {
        run.std_err.printf("\n%s\n%d\nerror opening %s\n", source_tag, __LINE__,
                           run.sys.narrow(name).c_str());
        terminate_run(run, exit_code::output_file);
    }
    const auto size = file->size();
    if (!size || *size < 10) return;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[scan_block]);
    if (!block) {
        run.std_err.printf("\n%s\n%d\nerror getting memory for %s\n", source_tag, __LINE__,
                           run.sys.narrow(name).c_str());
        terminate_run(run, exit_code::output_file);
    }
    if (!file->seek(0)) return;
    std::uint64_t offset = 0;
    for (;;) {
        // A log that cannot be read to the end is left as it is.
        const long long got = file->read(block.get(), scan_block);
        if (got <= 0) return;
        for (long long i = 0; i < got; ++i) {
            if (block[i] == 0 || block[i] == 26) {
                file->set_end(offset + std::uint64_t(i));
                return;
            }
        }
        offset += std::uint64_t(got);
    }
}

// The first three letters of a zone name, the second and third taken from
// after its first and second blank where it has them: "Eastern Standard
// Time" gives "Est" ("EST" upper-cased).
std::string banner_abbreviation(const std::string& name, bool upper) {
    char letters[3] = {0, 0, 0};
    for (std::size_t i = 0; i < 3 && i < name.size(); ++i) letters[i] = name[i];
    const std::size_t first = name.find(' ');
    if (first != std::string::npos) {
        letters[1] = first + 1 < name.size() ? name[first + 1] : '\0';
        const std::size_t second = name.find(' ', first + 1);
        if (second != std::string::npos)
            letters[2] = second + 1 < name.size() ? name[second + 1] : '\0';
    }
    std::string text;
    for (char c : letters) {
        if (c == '\0') break;
        text.push_back(upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c);
    }
    return text;
}

}  // namespace

std::unique_ptr<OutStream> open_accounting_log(Run& run, std::u16string_view name) {
    // Without its directory the log cannot exist, so there is nothing to
    // clean: the open below fails with its own message and the run goes on.
    if (make_log_directory(run, name)) clean_log_end(run, name);
    auto sink = run.sys.open_text(name, platform::OpenMode::append);
    if (!sink) {
        run.std_out.printf("Can't open accounting file %s\n", run.sys.narrow(name).c_str());
        return nullptr;
    }
    auto log = std::make_unique<OutStream>(std::move(sink));
    log->printf("\n%.40s\n", asterisks);
    run.log_name = name;
    run.log_error_reported = false;
    return log;
}

void check_log_written(Run& run) {
    if (!run.log || !run.log->failed() || run.log_error_reported) return;
    run.log_error_reported = true;
    run.std_err.printf("\nError writing the accounting log %s\n",
                       run.sys.narrow(run.log_name).c_str());
    terminate_run(run, exit_code::write_error);
}

std::string zone_abbreviation(Run& run) {
    const std::string name = run.sys.zone().standard_name;
    std::string abbreviation;
    if (name.size() > 1 && name.find(' ') != std::string::npos) {
        abbreviation.push_back(name[0]);
        for (std::size_t i = 0; i + 1 < name.size() && abbreviation.size() < 3; ++i)
            if (name[i] == ' ') abbreviation.push_back(name[i + 1]);
    } else {
        abbreviation = name.substr(0, 3);
    }
    for (auto& c : abbreviation) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (abbreviation.size() > 3) abbreviation.resize(3);
    if (abbreviation.empty()) abbreviation = "TZ0";
    return abbreviation;
}

void echo_command_line(Run& run) {
    if (!run.log) return;
    for (const auto& arg : run.args) {
        if (arg == u"|")
            run.log->put(" \"|\"");
        else
            run.log->printf(" %s", run.sys.narrow(arg).c_str());
    }
    run.log->put("\n");
}

void write_start_banner(Run& run) {
    const std::int64_t now = run.sys.now_seconds();
    const platform::ZoneInfo zone = run.sys.zone();
    const std::string local = calendar_text(run, now);
    const int offset_hours = static_cast<int>(zone.offset_seconds / 3600);
    std::string gmt = calendar_text(run, now + zone.offset_seconds);
    const std::string& standard = zone.standard_name;
    const std::string standard_abbreviation = banner_abbreviation(standard, true);
    std::string daylight_abbreviation;
    bool daylight = false;
    if (zone.daylight && !zone.daylight_name.empty()) {
        gmt = calendar_text(run, now + zone.offset_seconds - 3600);
        daylight = true;
        daylight_abbreviation = banner_abbreviation(zone.daylight_name, false);
    }

    const RunSettings& s = run.s;
    if (!run.output || s.SILENT || s.ACCT) return;
    const std::string clock = local.substr(11, 5);
    const auto write_zone = [&](OutStream& out) {
        out.printf("%.5s %s ", clock.c_str(), standard.c_str());
        out.printf("(%s/%s:%d%s)", standard_abbreviation.c_str(), daylight_abbreviation.c_str(),
                   offset_hours, daylight ? "*" : "");
    };

    OutStream& out = *run.output;
    out.put("\nStarted ");
    if (standard.empty())
        out.printf("%s ", local.c_str());
    else
        out.printf("%s GMT, ", gmt.c_str());
    write_zone(out);
    out.put("\n");
    if (run.output != &run.std_out) {
        out.put("COMMAND LINE:  ");
        for (const auto& arg : run.args) out.printf("%s ", run.sys.narrow(arg).c_str());
    }
    out.put("\n\n");

    // Only a log opened from the environment is open here: every other
    // way of opening it sets ACCT.
    if (!run.log) return;
    OutStream& log = *run.log;
    log.put("\nStarted ");
    if (standard.empty()) {
        log.printf("%s Local Time: ", local.c_str());
    } else {
        log.printf("%s GMT, ", gmt.c_str());
        write_zone(log);
    }
    log.put("\n");
    for (const auto& arg : run.args) log.printf("%s ", run.sys.narrow(arg).c_str());
    log.put("\n");
}
