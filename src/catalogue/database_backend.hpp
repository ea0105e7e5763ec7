// What the database backend modules offer the catalogue: the build links
// one for files and one for servers, as it picks the platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/catalogue_sink.hpp"
#include "core/columns.hpp"
#include "core/earlier_entry.hpp"
#include "core/run_settings.hpp"
#include "platform/platform.hpp"

namespace filarix {

// The run's row in `runs`, as far as it is known at the start.
struct RunFacts {
    std::string host;
    std::string user;
    std::string start_paths;  // a JSON array of the start paths, as rows write paths
    std::string command_line;
    std::string digests;            // the digest fields the run fills, comma-separated
    std::string listing_format;     // text, csv or jsonl
    std::string fields;             // the fields the entries' rows hold, comma-separated
    std::vector<Field> row_fields;  // the same fields, which the rows bind alone
    std::string started;            // UTC, ISO 8601
    // The clock, for committing the rows every few seconds.
    std::function<std::int64_t()> now_ms;
    // Loads a database server's client library, only for a run that asks
    // for the server.
    std::function<std::unique_ptr<platform::SharedLibrary>(std::string_view)> load_library;
};

// A field's name as an SQL identifier, in double quotes.
inline std::string quoted_name(const char* name) {
    return std::string("\"") + name + "\"";
}

// How the run ended, as its row in `runs` says.
inline const char* run_status_text(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::complete:
            return "complete";
        case RunOutcome::aborted:
            return "aborted";
        case RunOutcome::failed:
            break;
    }
    return "failed";
}

// Which run of a database to read.
struct EarlierRun {
    std::optional<std::int64_t> run_id;  // "FILE#N"
    std::string host;
    std::string start_paths;
};

// A database file (SQLite): databases/sqlite, or databases/none where the
// build has no SQLite.
//
// Why this build cannot write a database file; empty when it can.
std::string file_database_unsupported();
// Opens (creating) the database and adds the run as running; null with the
// reason in `error`.
std::unique_ptr<CatalogueSink> open_file_database(const std::string& file, const RunFacts& facts,
                                                  std::string& error);
// Hands over the rows of the run asked for; false with the reason in
// `error` when there is none or the file cannot be read.
bool read_file_database(const std::string& file, const EarlierRun& which,
                        const std::function<void(EarlierEntry&&)>& take, std::string& error);

// A database server (PostgreSQL): databases/postgresql, or
// databases/no_server where the build has no libpq.
std::string server_database_unsupported();
// Connects (a URL or a connection string), adds the tables it lacks and
// the run as running; null with the reason in `error`.
std::unique_ptr<CatalogueSink> open_server_database(const std::string& connection,
                                                    const RunFacts& facts, std::string& error);

}  // namespace filarix
