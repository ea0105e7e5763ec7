#include "core/listing_file.hpp"

#include <cstdio>

#include "core/log_file.hpp"
#include "core/shown_text.hpp"

namespace filarix {

namespace {

[[noreturn]] void listing_write_failed(Run& run, const std::string& name) {
    run.listing_target = ListingTarget::standard_error;
    run.std_err.printf("\nError writing the listing to %s\n", name.c_str());
    end_run(exit_code::write_error);
}

}  // namespace

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

std::u16string split_part_name(const platform::PathSyntax& syntax, std::u16string_view name,
                               int number) {
    const NameParts p = split_output_name(syntax, name);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%02d", number);
    return p.drive + p.directory + p.name + platform::widen(suffix) + p.extension;
}

void next_split_file(Run& run) {
    // Only a listing file is split; the console listing goes on as it is.
    if (!run.output_file || run.listing_target != ListingTarget::file) return;
    // A device (/dev/null) takes every part: there is no file beside it to
    // split into.
    if (run.output_file->is_device()) return;
    const std::u16string part =
        split_part_name(run.syntax, run.s.output_name, run.counts.split_number);
    ++run.counts.split_number;

    // The part just finished must be complete before the next one starts.
    if (!run.output_file->close())
        listing_write_failed(run, shown_name(run.sys, run.output_part_name));

    auto sink = run.sys.open_text(part, platform::OpenMode::write);
    if (!sink) {
        run.std_out.printf("\nCan't open new output file %s", shown_name(run.sys, part).c_str());
        end_run(exit_code::output_file);
    }
    // ZIP member lines that go to the listing follow it into the new part.
    run.output_file = std::make_unique<OutStream>(std::move(sink));
    run.output_part_name = part;
    // Each part of a CSV listing can be read on its own.
    if (run.s.table_format == table_csv)
        run.output_file->put(csv_header_row(run.s, run.sys.text_lines_crlf()));
}

void check_output_written(Run& run) {
    check_log_written(run.sys, run);
    if (!run.output().failed()) return;
    const std::string name = run.listing_target == ListingTarget::file
                                 ? shown_name(run.sys, run.output_part_name)
                                 : std::string(run.listing_target == ListingTarget::standard_output
                                                   ? "the standard output"
                                                   : "the standard error stream");
    listing_write_failed(run, name);
}

}  // namespace filarix
