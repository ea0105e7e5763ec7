#include "driver/output_setup.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "catalogue/sort.hpp"
#include "core/shown_text.hpp"
#include "driver/accounting_log.hpp"
#include "driver/termination.hpp"
#include "options/number_text.hpp"

namespace filarix {

namespace {

// The first line of an existing file without its line end; nothing when
// the file is missing, empty or not a file that can be read. Reading stops
// past `limit` bytes, enough to tell the line from one that long.
std::optional<std::string> first_line(Run& run, std::u16string_view name, std::size_t limit) {
    auto file = run.sys.open_read(name, false);
    if (!file) return std::nullopt;
    std::string line;
    bool any = false;
    char block[4096];
    for (;;) {
        const long long got = file->read_whole(block, sizeof block);
        if (got <= 0) break;
        any = true;
        const std::string_view part(block, static_cast<std::size_t>(got));
        const std::size_t end = part.find('\n');
        line.append(part.substr(0, end));
        if (end != std::string_view::npos || line.size() > limit) break;
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Rows appended under a header row that names other fields would stand in
// the wrong columns: such a file is left as it is, and the run ends before
// anything is listed.
void refuse_other_csv_fields(Run& run) {
    std::string header = csv_header_row(run.s, false);
    header.resize(header.size() - 2);  // its CR LF
    const auto existing = first_line(run, run.s.output_name, header.size() + 1);
    if (!existing || *existing == header) return;
    run.std_err.printf(
        "\ncan't append to output file %s: its header row names other fields than this run "
        "writes\n",
        shown_name(run.sys, run.s.output_name).c_str());
    end_run(exit_code::output_file);
}

}  // namespace

void open_output(Run& run) {
    const RunSettings& s = run.s;
    if (s.output_to_file()) {
        if (s.APPEND && s.table_format == table_csv) refuse_other_csv_fields(run);
        // The lines an appended-to listing already holds stay before the
        // records when it is sorted.
        if (s.APPEND && s.SORT) run.listing_prior_lines = count_line_ends(run, run.s.output_name);
        auto sink = run.sys.open_text(
            run.s.output_name, s.APPEND ? platform::OpenMode::append : platform::OpenMode::write);
        if (!sink) {
            run.std_err.printf(
                s.APPEND ? "\ncan't open output file %s\n" : "\ncan't create output file %s\n",
                shown_name(run.sys, run.s.output_name).c_str());
            end_run(exit_code::output_file);
        }
        run.output_file = std::make_unique<OutStream>(std::move(sink));
        run.listing_target = ListingTarget::file;
        run.output_part_name = run.s.output_name;
    }
    if (s.APPEND && s.OUTPUT == ListingOutput::console) {
        run.std_out.put("\n\tNeed output file name if -a is chosen\n");
        end_run(exit_code::illegal_option);
    }
    if (s.ZIPLOG) {
        run.ziplog_to_listing = true;
        if (!run.s.ziplog_name.empty()) {
            // A ZIP log file that cannot be opened leaves the members in the listing.
            if (auto sink = run.sys.open_text(run.s.ziplog_name, platform::OpenMode::append)) {
                run.ziplog_file = std::make_unique<OutStream>(std::move(sink));
                if (s.table_format == table_csv)
                    run.ziplog_file->put(csv_header_row(s, run.sys.text_lines_crlf()));
            }
        }
    }
}

}  // namespace filarix
