#include "driver/output_setup.hpp"

#include <algorithm>
#include <cstdio>

#include "driver/accounting_log.hpp"
#include "driver/termination.hpp"
#include "options/number_text.hpp"

namespace {

// The comment is padded from the record's blank fill, which holds 199.
constexpr std::size_t comment_fill_limit = 199;

void pad_comment(std::u16string& text, std::size_t width) {
    if (width > text.size()) text.append(std::min(width - text.size(), comment_fill_limit), u' ');
}

void prepare_comment(Run& run) {
    std::u16string& text = run.comment_text;
    constexpr std::u16string_view key = u"COMPUTERNAME";
    if (text.size() >= key.size() &&
        platform::equal_ignoring_case(std::u16string_view(text).substr(0, key.size()), key)) {
        std::u16string_view rest = std::u16string_view(text).substr(key.size());
        if (!rest.empty() && rest.front() == u':') rest.remove_prefix(1);
        const auto width = static_cast<std::size_t>(leading_number_in(rest, 0, 1000000));
        const auto computer = run.sys.computer_name();
        if (!computer) return;
        std::u16string name = computer->substr(0, 12);
        pad_comment(name, width);
        if (!run.s.DELIM) name.push_back(char16_t(static_cast<unsigned char>(run.delimiter)));
        text = std::move(name);
        return;
    }
    const std::size_t colon = text.find(u':');
    if (colon == std::u16string::npos) return;
    const auto width = static_cast<std::size_t>(
        leading_number_in(std::u16string_view(text).substr(colon + 1), 0, 1000000));
    text.resize(colon);
    pad_comment(text, width);
}

}  // namespace

void open_output(Run& run) {
    RunSettings& s = run.s;
    if (s.PNAME) {
        const NameParts p = split_output_name(run.syntax, run.output_name);
        run.output_name = p.drive + p.directory + run.program_name + u"_" + p.name + p.extension;
    }
    if (s.OUTPUT == 1) {
        auto sink = run.sys.open_text(
            run.output_name, s.APPEND ? platform::OpenMode::append : platform::OpenMode::write);
        if (!sink) {
            run.std_err.printf(
                s.APPEND ? "\ncan't open output file %s\n" : "\ncan't create output file %s\n",
                run.sys.narrow(run.output_name).c_str());
            end_run(exit_code::output_file);
        }
        run.output_file = std::make_unique<OutStream>(std::move(sink));
        run.output = run.output_file.get();
        run.output_part_name = run.output_name;
    }
    if (s.APPEND && s.OUTPUT == 0) {
        run.std_out.put("\n\tNeed output file name if -a is chosen\n");
        end_run(exit_code::illegal_option);
    }
    if (s.NAMEONLY) s.RECURSE = 0;
    if (s.TIME && s.time_type == '0') s.time_type = 'w';
    if (s.COMMENT == 1) prepare_comment(run);
    if (s.ZIPLOG) {
        run.ziplog = run.output;
        if (!run.ziplog_name.empty()) {
            // A ZIP log file that cannot be opened leaves the members in the listing.
            if (auto sink = run.sys.open_text(run.ziplog_name, platform::OpenMode::append)) {
                run.ziplog_file = std::make_unique<OutStream>(std::move(sink));
                run.ziplog = run.ziplog_file.get();
            }
        }
    }
}
