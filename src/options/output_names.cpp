#include "options/output_names.hpp"

#include <cstdio>
#include <string_view>

namespace filarix {

namespace {

bool starts_with(std::u16string_view text, std::size_t at, std::u16string_view token) {
    return text.substr(at, token.size()) == token;
}

bool is_hour_token(std::u16string_view text, std::size_t at) {
    return at + 1 < text.size() && (text[at] == u'H' || text[at] == u'h') &&
           (text[at + 1] == u'H' || text[at + 1] == u'h');
}

std::u16string formatted(const char* format, int value) {
    char text[24];
    std::snprintf(text, sizeof text, format, value);
    return platform::widen(text);
}

// Where the mask begins: the first letter after "\MMDD", "\YYYY" or
// "\YYMM" (tried in that order), else at "COMPUTERNAME".
std::size_t mask_start(const platform::PathSyntax& syntax, std::u16string_view name) {
    const std::u16string sep(1, syntax.separator);
    for (const std::u16string_view token : {u"MMDD", u"YYYY", u"YYMM"}) {
        const std::size_t at = name.find(sep + std::u16string(token));
        if (at != std::u16string_view::npos) return at + 1;
    }
    return name.find(u"COMPUTERNAME");
}

}  // namespace

std::u16string expanded_output_name(const platform::PathSyntax& syntax, std::u16string_view name,
                                    const NameStamp& stamp) {
    const std::size_t start = mask_start(syntax, name);
    if (start == std::u16string::npos) return std::u16string(name);

    // The extension belongs to the file-name part: a dot in a directory
    // name must not carry the rest of the path along as an "extension".
    const std::size_t last_sep = syntax.last_separator(name);
    const std::size_t file_part = last_sep == std::u16string::npos ? 0 : last_sep + 1;
    const std::size_t dot = name.find(u'.', file_part);
    const std::u16string extension(dot == std::u16string::npos ? u"" : name.substr(dot));

    const std::u16string_view mask = std::u16string_view(name).substr(start);
    const platform::CivilTime& t =
        mask.find(u'G') != std::u16string_view::npos ? stamp.utc : stamp.local;

    std::u16string expanded;
    for (std::size_t i = 0; i < mask.size();) {
        if (starts_with(mask, i, u"COMPUTERNAME")) {
            std::u16string computer = stamp.computer;
            if (computer.size() > 260) computer.resize(260);
            expanded += computer;
            i += 12;
        } else if (starts_with(mask, i, u"YYYY")) {
            expanded += formatted("%04d", t.year);
            i += 4;
        } else if (starts_with(mask, i, u"YY")) {
            expanded += formatted("%02d", ((t.year % 100) + 100) % 100);
            i += 2;
        } else if (starts_with(mask, i, u"MM")) {
            expanded += formatted("%02d", t.month);
            i += 2;
        } else if (starts_with(mask, i, u"DD")) {
            expanded += formatted("%02d", t.day);
            i += 2;
        } else if (is_hour_token(mask, i)) {
            expanded += formatted("_%02d", t.hour);
            i += 2;
        } else if (starts_with(mask, i, u"mm")) {
            expanded += formatted("%02d", t.minute);
            i += 2;
        } else {
            ++i;  // anything else, the dot and the extension too, is dropped
        }
    }
    return std::u16string(name.substr(0, start)) + expanded + extension;
}

std::u16string automatic_log_name(Run& run) {
    // A run listing to the console has no output name to follow: the log is
    // named after the program rather than a bare, hidden ".log".
    const std::u16string& base =
        run.s.output_name.empty()
            ? (run.program_name.empty() ? std::u16string(u"filarix64") : run.program_name)
            : run.s.output_name;
    std::u16string name = full_path_or_name(run, base);
    const std::size_t sep = run.syntax.last_separator(name);
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && (sep == std::u16string::npos || dot > sep)) name.resize(dot);
    return name + u".log";
}

}  // namespace filarix
