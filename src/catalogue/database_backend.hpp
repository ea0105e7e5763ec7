// What a database backend module offers the catalogue: the build links
// exactly one (databases/sqlite, databases/none), as it picks the platform.
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
};

// Which run of a database to read.
struct EarlierRun {
    std::optional<std::int64_t> run_id;  // "FILE#N"
    std::string host;
    std::string start_paths;
};

// Why this build cannot write a database of this kind; empty when it can.
std::string database_unsupported(DatabaseKind kind);

// Opens (creating) the database and adds the run as running; null with the
// reason in `error`.
std::unique_ptr<CatalogueSink> open_database_backend(const std::string& file, const RunFacts& facts,
                                                     std::string& error);

// Hands over the rows of the run asked for; false with the reason in
// `error` when there is none or the file cannot be read.
bool read_database_backend(const std::string& file, const EarlierRun& which,
                           const std::function<void(EarlierEntry&&)>& take, std::string& error);

}  // namespace filarix
