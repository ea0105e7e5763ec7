// The catalogue's tables in SQLite and their versions. PRAGMA user_version
// holds the version a database is at; each migration brings it one step
// forward, in one transaction, so that a newer program opens an older
// database and adds what it lacks.
#pragma once

#include <sqlite3.h>

#include <string>

namespace filarix::sqlite_schema {

struct Migration {
    int to_version;
    bool (*apply)(sqlite3* db, std::string& error);
};

// The steps in order; the last one's version is the current schema.
extern const Migration migrations[];
extern const int migration_count;
int current_version();

// The SQL type of an entries column: INTEGER for numbers, TEXT otherwise.
const char* column_type(int field);

// The version the database is at (0 for a new one); -1 with the reason.
int user_version(sqlite3* db, std::string& error);

// Brings the database to the current version and gives `entries` a column
// for every field of a row (a field added later arrives without a step of
// its own). A database of a newer version is refused.
bool migrate(sqlite3* db, std::string& error);

// Runs SQL without rows; false with SQLite's message.
bool execute(sqlite3* db, const std::string& sql, std::string& error);

}  // namespace filarix::sqlite_schema
