#include "driver/accounting_log.hpp"

#include <cctype>

std::unique_ptr<OutStream> open_accounting_log(Run&, std::u16string_view) {
    // The log options come with the command-line options; no log yet.
    return nullptr;
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

void write_start_banner(Run&) {
    // The banner needs an output file or a log to go to; both come later.
}
