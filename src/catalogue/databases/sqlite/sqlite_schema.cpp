#include "catalogue/databases/sqlite/sqlite_schema.hpp"

#include <set>

#include "catalogue/database_backend.hpp"
#include "core/columns.hpp"

namespace filarix::sqlite_schema {

namespace {

bool version_1(sqlite3* db, std::string& error) {
    std::string entries = "CREATE TABLE entries(run_id INTEGER NOT NULL REFERENCES runs(run_id)";
    for (std::size_t i = 0; i < field_count; ++i)
        entries += std::string(", ") + quoted_name(field_name(static_cast<Field>(i))) + " " +
                   column_type(static_cast<int>(i));
    entries += ")";
    return execute(db,
                   "CREATE TABLE runs("
                   "run_id INTEGER PRIMARY KEY, host TEXT, user_name TEXT, start_paths TEXT, "
                   "command_line TEXT, digests TEXT, listing_format TEXT, fields TEXT, "
                   "started TEXT, finished TEXT, status TEXT NOT NULL, "
                   "files INTEGER, directories INTEGER, bytes INTEGER)",
                   error) &&
           execute(db, entries, error);
}

// Fields added to the row after a database was made get their columns.
bool add_missing_columns(sqlite3* db, std::string& error) {
    sqlite3_stmt* info = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA table_info(entries)", -1, &info, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    std::set<std::string> present;
    while (sqlite3_step(info) == SQLITE_ROW)
        present.insert(reinterpret_cast<const char*>(sqlite3_column_text(info, 1)));
    sqlite3_finalize(info);
    for (std::size_t i = 0; i < field_count; ++i) {
        const char* name = field_name(static_cast<Field>(i));
        if (present.count(name)) continue;
        if (!execute(db,
                     "ALTER TABLE entries ADD COLUMN " + quoted_name(name) + " " +
                         column_type(static_cast<int>(i)),
                     error))
            return false;
    }
    return true;
}

}  // namespace

const Migration migrations[] = {
    {1, version_1},
};
const int migration_count = static_cast<int>(std::size(migrations));

int current_version() {
    return migrations[migration_count - 1].to_version;
}

const char* column_type(int field) {
    return field_type(static_cast<Field>(field)) == FieldType::number ? "INTEGER" : "TEXT";
}

bool execute(sqlite3* db, const std::string& sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

int user_version(sqlite3* db, std::string& error) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return -1;
    }
    int version = -1;
    if (sqlite3_step(statement) == SQLITE_ROW)
        version = sqlite3_column_int(statement, 0);
    else
        error = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    return version;
}

bool migrate(sqlite3* db, std::string& error) {
    // One writer at a time: the check and the steps are one transaction.
    if (!execute(db, "BEGIN IMMEDIATE", error)) return false;
    const auto fail = [&] {
        std::string ignored;
        execute(db, "ROLLBACK", ignored);
        return false;
    };
    const int version = user_version(db, error);
    if (version < 0) return fail();
    if (version > current_version()) {
        error = "its schema version " + std::to_string(version) +
                " is newer than this program knows (" + std::to_string(current_version()) + ")";
        return fail();
    }
    for (int i = 0; i < migration_count; ++i) {
        if (migrations[i].to_version <= version) continue;
        if (!migrations[i].apply(db, error)) return fail();
    }
    if (!add_missing_columns(db, error)) return fail();
    if (version != current_version() &&
        !execute(db, "PRAGMA user_version = " + std::to_string(current_version()), error))
        return fail();
    return execute(db, "COMMIT", error) || fail();
}

}  // namespace filarix::sqlite_schema
