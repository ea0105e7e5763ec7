// The database a run's rows also go to (--DB), and the earlier runs a
// database holds for --DIFF and --REUSE. Which databases a build writes is
// the build's choice: it links one backend module (databases/sqlite, or
// databases/none where there is no SQLite).
#pragma once

#include <functional>
#include <string>

#include "core/earlier_entry.hpp"
#include "core/run.hpp"

namespace filarix {

// Refuses a --DB this build cannot write, before anything is listed: the
// message names what is missing and the run ends with the option status.
void check_database_support(Run& run);

// Opens the database (creating it) and records the run as running. A
// database that cannot be written is named, and the run goes on without
// it: the listing is written whole and the run ends with the output-file
// status.
void open_database(Run& run);

// Waits until the database is ready for rows, so that one that never was
// (not a database, say) decides the status the summaries give.
void settle_database(Run& run);

// Records how the run ended and the totals; returns the reason the run
// ends with, the output-file status when the database failed.
int close_database(Run& run, int reason);

// The file begins with SQLite's header, or is one followed by "#N".
// A connection string or command-line argument as it may be shown or
// kept: the password of a URL or of a password= key replaced by "***".
std::string without_password(std::string text);

bool names_database(platform::System& sys, std::u16string_view name);

// Reads the rows of an earlier run from a database (--DIFF, --REUSE): run
// N of "FILE#N", else the latest complete run of this host over the same
// start paths. None found, or a database that cannot be read, ends the run
// with the input-file status, `purpose` opening the message ("Can't compare
// with").
void read_database_rows(Run& run, std::u16string_view name, const char* purpose,
                        const std::function<void(EarlierEntry&&)>& take);

}  // namespace filarix
