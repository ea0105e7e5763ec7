// The SQLite writer on a real file: a run of many rows commits them as it
// goes and copies the WAL into the file on the way, so that its end has
// little left to write; every row arrives, in order and typed.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/database_backend.hpp"

namespace filarix {
namespace {

class SqliteWriter : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/filarix_sqlite_XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        root_ = templ;
        file_ = root_ + "/cat.sqlite";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    static RunFacts facts() {
        RunFacts f;
        f.host = "host";
        f.start_paths = "[\"/t/\"]";
        f.listing_format = "csv";
        f.fields = "kind,path,size";
        f.row_fields = {Field::kind, Field::path, Field::size};
        f.started = "2026-01-31T09:05:00Z";
        f.now_ms = [] { return std::int64_t{0}; };
        return f;
    }

    // Paths long enough that the rows make a database several times the
    // size of the WAL's copying mark.
    static std::string path_of(std::size_t n) {
        return "/t/" + std::string(60, 'p') + "/file" + std::to_string(100000 + n);
    }

    // Rows [from, to) of a run: kind, path_of(n) and n as the size.
    static void add_rows(CatalogueSink& sink, std::size_t from, std::size_t to) {
        const std::string kind = "file";
        for (std::size_t n = from; n < to; ++n) {
            const std::string path = path_of(n);
            const std::string size = std::to_string(n);
            RowValues row{};
            row[static_cast<std::size_t>(Field::kind)] = &kind;
            row[static_cast<std::size_t>(Field::path)] = &path;
            row[static_cast<std::size_t>(Field::size)] = &size;
            ASSERT_TRUE(sink.add_row(row)) << sink.error();
        }
    }

    // The first column of each row, joined by '|'.
    std::string query(const std::string& sql) const {
        sqlite3* db = nullptr;
        std::string out;
        if (sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* s = nullptr;
            if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK)
                while (sqlite3_step(s) == SQLITE_ROW) {
                    if (!out.empty()) out += '|';
                    if (const auto* t = sqlite3_column_text(s, 0))
                        out += reinterpret_cast<const char*>(t);
                }
            else
                out = std::string("error: ") + sqlite3_errmsg(db);
            sqlite3_finalize(s);
        }
        sqlite3_close(db);
        return out;
    }

    std::string root_;
    std::string file_;
};

TEST_F(SqliteWriter, ALongRunEndsWithLittleLeftInTheWal) {
    constexpr std::size_t rows = 100000;
    std::string error;
    auto sink = open_file_database(file_, facts(), error);
    ASSERT_TRUE(sink) << error;
    ASSERT_NO_FATAL_FAILURE(add_rows(*sink, 0, rows));
    RunSummary summary;
    summary.files = rows;
    summary.finished = "2026-01-31T09:06:00Z";
    ASSERT_TRUE(sink->finish(summary)) << sink->error();

    // The run's end is committed and the connection still open: what the
    // WAL holds is what the close copies, after the walk. The WAL is never
    // cut shorter, so its size is the most it held at once.
    const auto database = std::filesystem::file_size(file_);
    const auto wal = std::filesystem::file_size(file_ + "-wal");
    EXPECT_GT(database, std::uintmax_t{12} << 20);
    EXPECT_LT(wal, std::uintmax_t{8} << 20) << "database " << database;
    sink.reset();
    EXPECT_FALSE(std::filesystem::exists(file_ + "-wal"));

    EXPECT_EQ(query("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(query("SELECT status || ' ' || files FROM runs"), "complete 100000");
    EXPECT_EQ(query("SELECT count(*) FROM entries WHERE run_id = 1"), "100000");
    // In order, whole, the sizes numbers, across every commit.
    EXPECT_EQ(query("SELECT count(*) FROM entries WHERE path <> '/t/' || printf('%.60c', 'p') "
                    "|| '/file' || (100000 + rowid - 1) OR size <> rowid - 1 OR "
                    "typeof(size) <> 'integer' OR kind <> 'file'"),
              "0");
    EXPECT_EQ(query("SELECT name FROM sqlite_master WHERE type = 'index'"), "entries_run_path");
}

// The walk does not wait while the database is made ready: rows are taken
// while another connection still writes to it (more of them than wait once
// it is ready), and all of them arrive once it lets go.
TEST_F(SqliteWriter, RowsAreTakenWhileTheDatabaseIsMadeReady) {
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder,
                           "PRAGMA journal_mode = WAL; CREATE TABLE other(x); BEGIN IMMEDIATE; "
                           "INSERT INTO other VALUES(1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::string error;
    auto sink = open_file_database(file_, facts(), error);
    ASSERT_TRUE(sink) << error;
    ASSERT_NO_FATAL_FAILURE(add_rows(*sink, 0, 20000));
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    ASSERT_NO_FATAL_FAILURE(add_rows(*sink, 20000, 30000));
    RunSummary summary;
    summary.finished = "2026-01-31T09:06:00Z";
    ASSERT_TRUE(sink->finish(summary)) << sink->error();
    sink.reset();
    EXPECT_EQ(query("SELECT status FROM runs"), "complete");
    EXPECT_EQ(query("SELECT count(*) FROM entries WHERE size = rowid - 1 AND path = '/t/' || "
                    "printf('%.60c', 'p') || '/file' || (100000 + rowid - 1)"),
              "30000");
}

// Values that repeat from row to row (which the writer does not bind again)
// arrive as exactly as those that change: a NULL after a value and a value
// after a NULL, a repeat across batches and commits, a number as a number,
// in the rows of many at once and in the last rows, which go in one by one.
TEST_F(SqliteWriter, RepeatedValuesArriveAsTheyWere) {
    RunFacts f = facts();
    f.row_fields = {Field::kind, Field::path, Field::size, Field::target};
    f.fields = "kind,path,size,target";
    std::string error;
    auto sink = open_file_database(file_, f, error);
    ASSERT_TRUE(sink) << error;
    // Each field repeats at its own pace, so that every change meets every
    // state of the others.
    const struct {
        std::size_t every;
        std::vector<std::optional<std::string>> values;
    } kinds{40, {"file", "link", "file"}}, sizes{3, {"7", std::nullopt, "7", "70", "7"}},
        targets{33, {std::nullopt, "7", "", std::nullopt, "/t"}};
    const auto at = [](const auto& pace, std::size_t n) -> const std::optional<std::string>& {
        return pace.values[n / pace.every % pace.values.size()];
    };
    constexpr std::size_t rows = 20011;
    std::string expected;
    for (std::size_t n = 0; n < rows; ++n) {
        const std::string path = path_of(n);
        RowValues row{};
        row[static_cast<std::size_t>(Field::kind)] = at(kinds, n) ? &*at(kinds, n) : nullptr;
        row[static_cast<std::size_t>(Field::path)] = &path;
        row[static_cast<std::size_t>(Field::size)] = at(sizes, n) ? &*at(sizes, n) : nullptr;
        row[static_cast<std::size_t>(Field::target)] = at(targets, n) ? &*at(targets, n) : nullptr;
        ASSERT_TRUE(sink->add_row(row)) << sink->error();
        if (!expected.empty()) expected += '|';
        const auto text = [](const std::optional<std::string>& v) {
            return v ? "'" + *v + "'" : std::string("NULL");
        };
        expected += text(at(kinds, n)) + "," + at(sizes, n).value_or("NULL") + "," +
                    text(at(targets, n)) + "," + (at(sizes, n) ? "integer" : "null");
    }
    RunSummary summary;
    summary.finished = "2026-01-31T09:06:00Z";
    ASSERT_TRUE(sink->finish(summary)) << sink->error();
    sink.reset();
    EXPECT_EQ(query("SELECT count(*) FROM entries WHERE path <> '/t/' || printf('%.60c', 'p') || "
                    "'/file' || (100000 + rowid - 1)"),
              "0");
    EXPECT_EQ(query("SELECT quote(kind) || ',' || quote(size) || ',' || quote(target) || ',' || "
                    "typeof(size) FROM entries ORDER BY rowid"),
              expected);
}

}  // namespace
}  // namespace filarix
