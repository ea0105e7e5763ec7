// The rows a run hands to its database (--DB): the same fields as its JSON
// Lines rows. A database that fails is named once and left; the listing
// goes on without it, and the run ends with the output-file status.
#pragma once

#include <string>

#include "core/run.hpp"
#include "record/table_row.hpp"

namespace filarix {

// Stores the row when the run has a database that still works.
void add_database_row(Run& run, const TableRow& row);

// Names the database and why it failed, once; the run goes on without it.
void report_database_failure(Run& run, const std::string& why);

}  // namespace filarix
