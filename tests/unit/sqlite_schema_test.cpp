// The SQLite schema's versions: a new database is brought to the current
// version, a migrated one is left as it is, an older one gains the fields
// added since, and a newer one is refused untouched.
#include "catalogue/databases/sqlite/sqlite_schema.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/columns.hpp"

namespace filarix {
namespace {

struct Memory {
    sqlite3* db = nullptr;
    Memory() { sqlite3_open(":memory:", &db); }
    ~Memory() { sqlite3_close(db); }
    std::set<std::string> columns(const char* table) const {
        std::set<std::string> names;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, (std::string("PRAGMA table_info(") + table + ")").c_str(), -1, &s,
                           nullptr);
        while (sqlite3_step(s) == SQLITE_ROW)
            names.insert(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
        sqlite3_finalize(s);
        return names;
    }
    int version() const {
        std::string error;
        return sqlite_schema::user_version(db, error);
    }
};

TEST(SqliteSchema, TheStepsClimbOneVersionAtATime) {
    ASSERT_GT(sqlite_schema::migration_count, 0);
    for (int i = 0; i < sqlite_schema::migration_count; ++i)
        EXPECT_EQ(sqlite_schema::migrations[i].to_version, i + 1);
}

TEST(SqliteSchema, ANewDatabaseGetsEveryFieldTyped) {
    Memory m;
    std::string error;
    ASSERT_TRUE(sqlite_schema::migrate(m.db, error)) << error;
    EXPECT_EQ(m.version(), sqlite_schema::current_version());
    const std::set<std::string> entries = m.columns("entries");
    EXPECT_EQ(entries.size(), field_count + 1);
    for (std::size_t i = 0; i < field_count; ++i)
        EXPECT_TRUE(entries.count(field_name(static_cast<Field>(i)))) << i;
    EXPECT_STREQ(sqlite_schema::column_type(static_cast<int>(Field::inode)), "INTEGER");
    EXPECT_STREQ(sqlite_schema::column_type(static_cast<int>(Field::path)), "TEXT");
    // Again: nothing is left to do.
    ASSERT_TRUE(sqlite_schema::migrate(m.db, error)) << error;
    EXPECT_EQ(m.columns("entries"), entries);
}

TEST(SqliteSchema, AnOlderDatabaseGainsTheFieldsAddedSince) {
    Memory m;
    std::string error;
    ASSERT_TRUE(sqlite_schema::migrate(m.db, error)) << error;
    // As a database made before the directory totals were fields.
    ASSERT_TRUE(sqlite_schema::execute(m.db, "ALTER TABLE entries DROP COLUMN tree_files", error));
    ASSERT_TRUE(sqlite_schema::execute(m.db, "ALTER TABLE entries DROP COLUMN tree_bytes", error));
    ASSERT_TRUE(sqlite_schema::migrate(m.db, error)) << error;
    EXPECT_TRUE(m.columns("entries").count("tree_files"));
    EXPECT_TRUE(m.columns("entries").count("tree_bytes"));
}

TEST(SqliteSchema, ANewerDatabaseIsRefusedUntouched) {
    Memory m;
    std::string error;
    ASSERT_TRUE(sqlite_schema::execute(m.db, "PRAGMA user_version = 99", error));
    EXPECT_FALSE(sqlite_schema::migrate(m.db, error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_TRUE(m.columns("runs").empty());
    EXPECT_EQ(m.version(), 99);
}

}  // namespace
}  // namespace filarix
