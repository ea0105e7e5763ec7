#include "record/database_rows.hpp"

#include "core/shown_text.hpp"

namespace filarix {

void add_database_row(Run& run, const TableRow& row) {
    if (!run.database || run.database_failed) return;
    RowValues values{};
    for (std::size_t i = 0; i < field_count; ++i) values[i] = row.value(static_cast<Field>(i));
    if (!run.database->add_row(values)) report_database_failure(run, run.database->error());
}

void report_database_failure(Run& run, const std::string& why) {
    if (run.database_failed) return;
    run.database_failed = true;
    // The database's own words may echo what it was given.
    std::string reason = why;
    mask_controls(reason);
    run.std_err.printf("\nError writing the database %s: %s; the listing goes on without it\n",
                       run.database_name.c_str(), reason.c_str());
    run.std_err.flush();
}

}  // namespace filarix
