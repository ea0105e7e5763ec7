#include "driver/output_setup.hpp"

#include <algorithm>
#include <cstdio>

#include "driver/accounting_log.hpp"
#include "driver/termination.hpp"
#include "options/number_text.hpp"

namespace {

// The comment is padded from the record's blank fill, which holds 199.
constexpr std::size_t comment_fill_limit = 199;

struct NameParts {
    std::u16string drive;
    std::u16string directory;  // with its final separator
    std::u16string name;
    std::u16string extension;  // with its dot
};

// Drive, directory, file name and extension of an output name, by the
// platform's own path rules ("C:" and "\" on Windows, "/" on POSIX).
NameParts split_output_name(const platform::PathSyntax& syntax, std::u16string_view path) {
    NameParts parts;
    if (syntax.drive_letters && path.size() >= 2 && path[1] == u':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    const std::size_t sep = syntax.last_separator(path);
    const std::size_t name_start = sep == std::u16string_view::npos ? 0 : sep + 1;
    parts.directory = path.substr(0, name_start);
    const std::u16string_view file = path.substr(name_start);
    const std::size_t dot = file.rfind(u'.');
    parts.name = file.substr(0, dot);
    if (dot != std::u16string_view::npos) parts.extension = file.substr(dot);
    return parts;
}

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

[[noreturn]] void listing_write_failed(Run& run, const std::string& name) {
    run.output = &run.std_err;
    run.std_err.printf("\nError writing the listing to %s\n", name.c_str());
    terminate_run(run, exit_code::write_error);
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
            terminate_run(run, exit_code::output_file);
        }
        run.output_file = std::make_unique<OutStream>(std::move(sink));
        run.output = run.output_file.get();
        run.output_part_name = run.output_name;
    }
    if (s.APPEND && s.OUTPUT == 0) {
        run.std_out.put("\n\tNeed output file name if -a is chosen\n");
        terminate_run(run, exit_code::illegal_option);
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

std::u16string split_part_name(const platform::PathSyntax& syntax, std::u16string_view name,
                               int number) {
    const NameParts p = split_output_name(syntax, name);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%02d", number);
    return p.drive + p.directory + p.name + platform::widen(suffix) + p.extension;
}

void next_split_file(Run& run) {
    // Only a listing file is split; the console listing goes on as it is.
    if (!run.output_file || run.output != run.output_file.get()) return;
    const std::u16string part = split_part_name(run.syntax, run.output_name, run.split_number);
    ++run.split_number;

    // The part just finished must be complete before the next one starts.
    if (!run.output_file->close()) listing_write_failed(run, run.sys.narrow(run.output_part_name));

    auto sink = run.sys.open_text(part, platform::OpenMode::write);
    if (!sink) {
        run.std_out.printf("\nCan't open new output file %s", run.sys.narrow(part).c_str());
        terminate_run(run, exit_code::output_file);
    }
    OutStream* const previous = run.output_file.get();
    auto next = std::make_unique<OutStream>(std::move(sink));
    // ZIP member lines that go to the listing follow it into the new part.
    if (run.ziplog == previous) run.ziplog = next.get();
    run.output_file = std::move(next);
    run.output = run.output_file.get();
    run.output_part_name = part;
}

void check_output_written(Run& run) {
    check_log_written(run);
    if (!run.output->failed()) return;
    const std::string name =
        run.output == run.output_file.get()
            ? run.sys.narrow(run.output_part_name)
            : std::string(run.output == &run.std_out ? "the standard output"
                                                     : "the standard error stream");
    listing_write_failed(run, name);
}
