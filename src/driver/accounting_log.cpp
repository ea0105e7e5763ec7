#include "driver/accounting_log.hpp"

#include <cctype>
#include <new>

#include "catalogue/database.hpp"
#include "core/shown_text.hpp"
#include "driver/termination.hpp"

namespace filarix {

namespace {

constexpr const char* source_tag = "Generic_64";
// Enough asterisks for every row the log writes.
constexpr const char* asterisks = "*****************************************************";

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

// An argument as the banner and the log show it: a database connection's
// password is never written down.
std::string shown_argument(platform::System& sys, const std::u16string& arg) {
    return without_password(shown_name(sys, arg));
}

}  // namespace

std::string zone_abbreviation(platform::System& sys) {
    const std::string name = sys.zone().standard_name;
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

void echo_command_line(platform::System& sys, const std::vector<std::u16string>& args,
                       OutStream* log) {
    if (!log) return;
    for (const auto& arg : args) {
        if (arg == u"|")
            log->put(" \"|\"");
        else
            log->printf(" %s", shown_argument(sys, arg).c_str());
    }
    log->put("\n");
}

void write_start_banner(Run& run) {
    const std::int64_t now = run.sys.now_seconds();
    const platform::ZoneInfo zone = run.sys.zone();
    const std::string local = calendar_text(run.sys, now);
    const int offset_hours = static_cast<int>(zone.offset_seconds / 3600);
    // Greenwich time comes from UTC itself: local time shifted by the
    // zone's offset is wrong wherever the zone's rules have ever changed.
    const std::string gmt = utc_calendar_text(run.sys, now);
    const std::string& standard = zone.standard_name;
    const std::string standard_abbreviation = banner_abbreviation(standard, true);
    std::string daylight_abbreviation;
    bool daylight = false;
    if (zone.daylight && !zone.daylight_name.empty()) {
        daylight = true;
        daylight_abbreviation = banner_abbreviation(zone.daylight_name, false);
    }

    const RunSettings& s = run.s;
    // A CSV or JSON Lines listing holds its rows and nothing else, a --NUL
    // listing its names.
    if (s.SILENT || s.ACCT || s.table_format || s.NUL) return;
    const std::string clock = local.substr(11, 5);
    const auto write_zone = [&](OutStream& out) {
        out.printf("%.5s %s ", clock.c_str(), standard.c_str());
        out.printf("(%s/%s:%d%s)", standard_abbreviation.c_str(), daylight_abbreviation.c_str(),
                   offset_hours, daylight ? "*" : "");
    };

    OutStream& out = run.output();
    out.put("\nStarted ");
    if (standard.empty())
        out.printf("%s ", local.c_str());
    else
        out.printf("%s GMT, ", gmt.c_str());
    write_zone(out);
    out.put("\n");
    if (&run.output() != &run.std_out) {
        out.put("COMMAND LINE:  ");
        for (const auto& arg : run.args) out.printf("%s ", shown_argument(run.sys, arg).c_str());
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
    for (const auto& arg : run.args) log.printf("%s ", shown_argument(run.sys, arg).c_str());
    log.put("\n");
}

}  // namespace filarix
