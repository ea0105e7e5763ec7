// Where a run's rows go besides the listing (--DB): a database. The record
// hands over each row's fields as the CSV and JSON Lines writers hold them;
// the catalogue layer holds the backends that store them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/columns.hpp"

namespace filarix {

// A row's fields by their place in Field: the text of each, null where the
// row holds none (JSON's null).
using RowValues = std::array<const std::string*, field_count>;

// How the run stands in the database.
enum class RunOutcome : std::uint8_t {
    complete,  // the run ended normally
    aborted,   // Ctrl+C or a fatal error
    failed,    // writing the database itself failed
};

struct RunSummary {
    RunOutcome outcome = RunOutcome::complete;
    std::uint64_t files = 0;
    std::uint64_t directories = 0;
    std::int64_t bytes = 0;
    std::string finished;  // UTC, ISO 8601
};

class CatalogueSink {
public:
    virtual ~CatalogueSink() = default;
    // Waits until the database can take rows (it may be made ready beside
    // the walk); false when it cannot.
    virtual bool ready() { return true; }
    // Stores one row; false when the database could not take it.
    virtual bool add_row(const RowValues& row) = 0;
    // Writes what is still held and the run's end; false when that failed.
    virtual bool finish(const RunSummary& summary) = 0;
    // Why the last call failed, in the database's words.
    virtual std::string error() const = 0;
};

}  // namespace filarix
