#include "driver/output_setup.hpp"

#include <algorithm>
#include <cstdio>

#include "content/sort.hpp"
#include "core/shown_text.hpp"
#include "driver/accounting_log.hpp"
#include "driver/termination.hpp"
#include "options/number_text.hpp"

namespace filarix {

void open_output(Run& run) {
    const RunSettings& s = run.s;
    if (s.output_to_file()) {
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
