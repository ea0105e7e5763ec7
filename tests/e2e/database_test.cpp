// The run written into an SQLite database (--DB) through the binary: two
// runs into one file, their rows field for field the JSON Lines rows, the
// queries of docs/database.md, --DIFF and --REUSE from it, an interrupted
// run, and databases that cannot be written.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

// The rows of a query as the sqlite3 shell prints them: fields joined by
// '|', rows ended by '\n'; NULL as empty.
std::string query(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open " + file;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
        out = std::string("error: ") + sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(s) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                if (i) out += '|';
                if (const auto* t = sqlite3_column_text(s, i))
                    out.append(reinterpret_cast<const char*>(t),
                               std::size_t(sqlite3_column_bytes(s, i)));
            }
            out += '\n';
        }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
}

// The SQL block under a heading of docs/database.md.
std::string docs_query(const std::string& heading) {
    const std::string docs = e2e::read_file(FILARIX_SOURCE_DIR "/docs/database.md");
    const auto at = docs.find("### " + heading + "\n");
    EXPECT_NE(at, std::string::npos) << heading;
    const auto begin = docs.find("```sql\n", at);
    const auto end = docs.find("```\n", begin + 7);
    return docs.substr(begin + 7, end - begin - 7);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        out.push_back(text.substr(at, end - at));
    return out;
}

struct Sample {
    e2e::TempTree tree;
    e2e::TempTree keep;  // the databases and listings, outside the tree
    std::string db = keep.path("cat.sqlite");

    Sample() {
        tree.file("a/one.txt", "same");
        tree.file("b/two.txt", "same");
        tree.file("b/three.txt", "other");
        tree.file("c/four.txt", "other");
        tree.file("c/alone.txt", "alone");
        tree.file("new\nline.txt", "x");
        tree.file("bad\xff.txt", "y");
        tree.dir("empty");
        tree.stamp("empty");
        tree.link("a/one.txt", "to-one");
    }
    e2e::Result list(std::vector<std::string> options) const {
        options.insert(options.begin(), tree.root());
        return e2e::run(options);
    }
};

// Every field a run's row holds, compared as SQLite compares values:
// types count, and NULL is NULL.
std::string differing_rows(const std::string& db, const std::string& left,
                           const std::string& right) {
    const std::string fields = query(db, "SELECT fields FROM runs WHERE run_id = 1");
    std::string where;
    std::size_t at = 0;
    const std::string list = fields.substr(0, fields.size() - 1);
    for (std::size_t end = 0; end != std::string::npos; at = end + 1) {
        end = list.find(',', at);
        const std::string f = list.substr(at, end - at);
        where += (where.empty() ? "" : " OR ") + left + "." + f + " IS NOT " + right + "." + f;
    }
    return where;
}

TEST(Database, TwoRunsGoIntoOneFileEachRowTheJsonLinesRow) {
    Sample s;
    const std::string jsonl = s.keep.path("one.jsonl");
    const e2e::Result first = s.list({"-5", "-Ad", "--JSONL", "--DB=" + s.db, "-o", jsonl});
    ASSERT_EQ(first.status, 1) << first.err;
    // A text listing beside it: its rows hold a JSON Lines row's fields.
    const e2e::Result second = s.list({"-5", "-Ad", "--DB=" + s.db, "-o", s.keep.path("two.txt")});
    ASSERT_EQ(second.status, 1) << second.err;
    EXPECT_EQ(query(s.db,
                    "SELECT run_id, status, files, directories, listing_format, digests "
                    "FROM runs ORDER BY run_id"),
              "1|complete|8|4|jsonl|md5\n2|complete|8|4|text|md5\n");
    const std::size_t rows = lines(e2e::read_file(jsonl)).size();
    EXPECT_EQ(query(s.db, "SELECT count(*) FROM entries GROUP BY run_id"),
              std::to_string(rows) + "\n" + std::to_string(rows) + "\n");

    // The JSON lines beside the database's rows of run 1, field by field.
    const std::string work = s.keep.path("work.sqlite");
    std::filesystem::copy_file(s.db, work);
    const e2e::Result imported =
        e2e::run({work, "CREATE TABLE raw(j TEXT)", ".mode ascii", ".separator \"\\037\" \"\\n\"",
                  ".import " + jsonl + " raw"},
                 {}, false, {}, std::nullopt, "/usr/bin/sqlite3");
    ASSERT_EQ(imported.status, 0) << imported.err;
    const std::string fields = query(work, "SELECT fields FROM runs WHERE run_id = 1");
    std::string select =
        "SELECT count(*) FROM raw JOIN entries e ON e.run_id = 1 AND e.path = "
        "json_extract(j, '$.path') WHERE 0";
    const std::string list = fields.substr(0, fields.size() - 1);
    for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
        end = list.find(',', at);
        const std::string f = list.substr(at, end - at);
        select += " OR e." + f + " IS NOT json_extract(j, '$." + f + "')";
    }
    EXPECT_EQ(query(work,
                    "SELECT count(*) FROM raw JOIN entries e ON e.run_id = 1 AND "
                    "e.path = json_extract(j, '$.path')"),
              std::to_string(rows) + "\n");
    EXPECT_EQ(query(work, select), "0\n") << select;
    // The text run's rows are the same rows.
    EXPECT_EQ(query(s.db,
                    "SELECT count(*) FROM entries a JOIN entries b ON a.path = b.path "
                    "AND a.kind = b.kind WHERE a.run_id = 1 AND b.run_id = 2 AND (" +
                        differing_rows(s.db, "a", "b") + ")"),
              "0\n");
    // Exact names: the line feed and the byte that is no UTF-8.
    EXPECT_EQ(query(s.db, "SELECT count(*) FROM entries WHERE path = '" + s.tree.path("new") +
                              "' || char(10) || 'line.txt'"),
              "2\n");
    std::string hex;
    for (const unsigned char c : s.tree.path("bad\xff.txt")) {
        static constexpr char digits[] = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    EXPECT_EQ(query(s.db, "SELECT DISTINCT path_bytes FROM entries WHERE path_bytes IS NOT NULL"),
              hex + "\n");
    // A directory and a link carry no digest; sizes and times are numbers.
    EXPECT_EQ(query(s.db,
                    "SELECT DISTINCT kind, md5 IS NULL FROM entries WHERE kind IN "
                    "('directory', 'link') ORDER BY kind"),
              "directory|1\nlink|1\n");
    EXPECT_EQ(query(s.db,
                    "SELECT DISTINCT typeof(size), typeof(modified_ns), typeof(inode) FROM "
                    "entries"),
              "integer|integer|integer\n");
    EXPECT_EQ(query(s.db, "SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name"),
              "entries_md5\nentries_run_path\n");
}

TEST(Database, TheDocumentedQueriesAnswer) {
    Sample s;
    ASSERT_EQ(
        s.list({"-5", "-Ad", "--TREESIZE", "--CSV", "--DB=" + s.db, "-o", s.keep.path("l1.csv")})
            .status,
        1);
    s.tree.file("c/alone.txt", "changed");
    s.tree.file("c/added.txt", "added");
    ASSERT_EQ(
        s.list({"-5", "-Ad", "--TREESIZE", "--CSV", "--DB=" + s.db, "-o", s.keep.path("l.csv")})
            .status,
        1);
    const auto md5 = lines(query(
        s.db, "SELECT DISTINCT md5 FROM entries WHERE path = '" + s.tree.path("a/one.txt") + "'"));
    const auto other = lines(query(s.db, "SELECT DISTINCT md5 FROM entries WHERE path = '" +
                                             s.tree.path("b/three.txt") + "'"));
    ASSERT_EQ(md5.size(), 1u);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(query(s.db, docs_query("Duplicate groups")),
              other[0] + "|5|" + s.tree.path("b/three.txt") + "\n" + other[0] + "|5|" +
                  s.tree.path("c/four.txt") + "\n" + md5[0] + "|4|" + s.tree.path("a/one.txt") +
                  "\n" + md5[0] + "|4|" + s.tree.path("b/two.txt") + "\n");
    EXPECT_EQ(
        query(s.db, docs_query("Changes between two runs")),
        "added|" + s.tree.path("c/added.txt") + "\nchanged|" + s.tree.path("c/alone.txt") + "\n");
    EXPECT_EQ(lines(query(s.db, docs_query("The largest directories")))[0],
              s.tree.root() + "|8|32");
    EXPECT_EQ(query(s.db, docs_query("Everything over 1 GB")), "");
    EXPECT_EQ(query(s.db, docs_query("Files on only one volume")),
              s.tree.path("c/alone.txt") + "|5\n");
}

TEST(Database, DiffAndReuseReadTheLatestCompleteRun) {
    Sample s;
    ASSERT_EQ(s.list({"-5", "--CSV", "--DB=" + s.db, "-o", s.keep.path("one.csv")}).status, 1);
    s.tree.file("c/alone.txt", "changed");
    s.tree.file("c/added.txt", "added");
    const e2e::Result diff = s.list({"-5", "--CSV", "--DIFF=" + s.db, "--CHANGED", "-o", "stdout"});
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_NE(diff.out.find("file,added,,," + s.tree.path("c/added.txt")), std::string::npos)
        << diff.out;
    EXPECT_NE(diff.out.find("file,changed,content,," + s.tree.path("c/alone.txt")),
              std::string::npos)
        << diff.out;
    EXPECT_NE(diff.err.find("Compared with " + s.db + ": 1 added, 0 removed, 0 moved, 1 changed"),
              std::string::npos)
        << diff.err;
    // Run 1 by its number: the same answer.
    const e2e::Result picked =
        s.list({"-5", "--CSV", "--DIFF=" + s.db + "#1", "--CHANGED", "-o", "stdout"});
    EXPECT_EQ(picked.out, diff.out);

    // A second run into it; --REUSE then reads no file whose row is there.
    ASSERT_EQ(s.list({"-5", "--CSV", "--DB=" + s.db, "-o", s.keep.path("two.csv")}).status, 1);
    const e2e::Result reuse = s.list({"-5", "--CSV", "--REUSE=" + s.db, "-o", "stdout"});
    EXPECT_EQ(reuse.status, 1) << reuse.err;
    EXPECT_NE(reuse.err.find("Digests reused from " + s.db + ": 8 files (32 bytes not read)"),
              std::string::npos)
        << reuse.err;

    // A row damaged by hand is refused, not read as some other name.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(s.db.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE entries SET path_bytes = '4G' WHERE run_id = 2", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    const struct {
        std::string value;
        std::string message;
    } refused[] = {
        {s.db + "#7", "Can't compare with " + s.db + "#7: it holds no run 7"},
        {s.db + "#2", "Can't compare with " + s.db + "#2: a row's path_bytes is not hexadecimal"},
    };
    for (const auto& c : refused) {
        const e2e::Result r = s.list({"--CSV", "--DIFF=" + c.value, "-o", "stdout"});
        EXPECT_EQ(r.status, 3) << c.value;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("\r\nfile,"), std::string::npos) << c.value;
    }
    // Another tree: no complete run of it.
    e2e::TempTree other;
    other.file("x.txt", "x");
    const e2e::Result r = e2e::run({other.root(), "--CSV", "--DIFF=" + s.db, "-o", "stdout"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("Can't compare with " + s.db +
                         ": it holds no complete run of this host over the same start paths"),
              std::string::npos)
        << r.err;
}

TEST(Database, AnInterruptedRunIsNeverComplete) {
    // Hard links to one file: many files, quickly made.
    e2e::TempTree tree;
    e2e::TempTree keep;
    ASSERT_NO_FATAL_FAILURE(e2e::linked_files(tree));
    const std::string db = keep.path("cut.sqlite");
    // The listing goes to a pipe that is not read once some has come: it
    // is far larger than the pipe, so the interrupt comes before the end.
    e2e::Child child({tree.root(), "-5", "--DB=" + db, "-o", "stdout"});
    ASSERT_TRUE(child.pump([&](const std::string&) { return child.out().size() > 4096; }));
    ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
    const e2e::Result cut = child.finish();
    ASSERT_EQ(cut.status, 2) << cut.err;
    EXPECT_EQ(query(db, "SELECT status FROM runs"), "aborted\n");
    const auto rows = std::stoul(query(db, "SELECT count(*) FROM entries"));
    EXPECT_GT(rows, 0u);
    EXPECT_LT(rows, 4000u);

    // A listing that could not be written whole makes no complete run either.
    for (const char* output : {"-o /dev/full", "-o stdout"}) {
        const std::string command = "exec '" + std::string(FILARIX_BINARY) + "' '" +
                                    tree.path("d0") + "' '--DB=" + db + "' " + output +
                                    " >/dev/full 2>/dev/null";
        EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 9) << command;
    }
    EXPECT_EQ(query(db, "SELECT status FROM runs ORDER BY run_id"), "aborted\naborted\naborted\n");
}

// The listing is written whole beside a database that cannot be written;
// the database is named and the run ends with the output-file status.
TEST(Database, ADatabaseThatCannotBeWrittenLeavesTheListingWhole) {
    Sample s;
    const std::string listed = e2e::without_banner(s.list({"-o", "stdout"}).out);
    ASSERT_NE(listed.find(s.tree.path("c/alone.txt")), std::string::npos);
    const std::string garbage = s.keep.path("garbage.db");
    std::ofstream(garbage) << std::string(4096, '\x5a');
    // Read-only for everyone but root, so the run goes as nobody.
    const std::string shut = s.keep.dir("shut");
    const std::string fifo = s.keep.path("fifo.sqlite");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::chmod(s.keep.root().c_str(), 0755);
    ::chmod(s.tree.root().c_str(), 0755);
    for (const char* d : {"a", "b", "c", "empty"}) ::chmod(s.tree.path(d).c_str(), 0755);
    ::chmod(shut.c_str(), 0555);
    const struct {
        std::string db;
        bool as_nobody;
        std::string why;
    } cases[] = {
        {garbage, false, "file is not a database"},
        {s.keep.root(), false, "unable to open database file"},
        {shut + "/new.sqlite", true, "unable to open database file"},
        {"/dev/full", false, "it is no regular file that can be read"},
        {fifo, false, "it is no regular file that can be read"},
    };
    for (const auto& c : cases) {
        const e2e::Result r =
            e2e::run({s.tree.root(), "--DB=" + c.db, "-o", "stdout"}, {}, c.as_nobody);
        EXPECT_EQ(r.status, 4) << c.db << r.err;
        EXPECT_EQ(e2e::without_banner(r.out), listed) << c.db;
        EXPECT_NE(r.err.find("Error writing the database " + c.db + ": " + c.why),
                  std::string::npos)
            << r.err;
    }
    // The accounting log gives the reason the run ends with.
    const std::string log = s.keep.path("run.log");
    EXPECT_EQ(e2e::run({s.tree.root(), "--DB=" + garbage, "--ACC=" + log, "-o", "stdout"}).status,
              4);
    EXPECT_NE(e2e::read_file(log).find("Reason: OUTPUT_FILE"), std::string::npos)
        << e2e::read_file(log);
    ::chmod(shut.c_str(), 0700);
    EXPECT_FALSE(std::filesystem::exists("/dev/full-journal"));
    EXPECT_FALSE(std::filesystem::exists("/dev/full-wal"));
}

TEST(Database, ALockedDatabaseIsGivenUpAfterTheBusyTimeout) {
    Sample s;
    ASSERT_EQ(s.list({"--DB=" + s.db, "-o", s.keep.path("one.txt")}).status, 1);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(s.db.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string listed = e2e::without_banner(s.list({"-o", "stdout"}).out);
    const e2e::Result r = s.list({"--DB=" + s.db, "-o", "stdout"});
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(e2e::without_banner(r.out), listed);
    EXPECT_NE(r.err.find("Error writing the database " + s.db + ": database is locked"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(query(s.db, "SELECT run_id, status FROM runs"), "1|complete\n");
}

}  // namespace

namespace {

// A run without --DB loads no database library: SQLite is linked in, and
// the PostgreSQL client is loaded only for a server.
TEST(Database, ARunWithoutItLoadsNoDatabaseLibrary) {
    Sample s;
    const std::string trace = s.keep.path("opens.txt");
    const e2e::Result r = e2e::run({"-f", "-e", "trace=open,openat", "-o", trace, FILARIX_BINARY,
                                    s.tree.root(), "-5", "--CSV", "-o", s.keep.path("list.csv")},
                                   {}, false, {}, std::nullopt, "/usr/bin/strace");
    ASSERT_EQ(r.status, 1) << r.err;
    const std::string opens = e2e::read_file(trace);
    ASSERT_NE(opens.find("list.csv"), std::string::npos) << opens;
    for (const char* library : {"libsqlite3", "libpq", "libssl"})
        EXPECT_EQ(opens.find(library), std::string::npos) << library;
}

}  // namespace
