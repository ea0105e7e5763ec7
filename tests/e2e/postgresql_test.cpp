// The run written into PostgreSQL (--DB=host=... dbname=...) through the
// binary, against a throwaway server of its own: initdb and pg_ctl as the
// postgres user, listening on a Unix socket in a temporary directory only.
#include <gtest/gtest.h>
#include <pwd.h>

#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

const std::string kRunUser = "/usr/sbin/runuser";

// The server's programs, of whichever version Debian installed.
std::string server_program(const std::string& name) {
    for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql")) {
        const auto program = version.path() / "bin" / name;
        if (std::filesystem::exists(program)) return program.string();
    }
    return name;
}

e2e::Result as_postgres(std::vector<std::string> args) {
    args.insert(args.begin(), {"-u", "postgres", "--"});
    return e2e::run(args, "/", false, {}, std::nullopt, kRunUser);
}

class Postgres : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new e2e::TempTree;
        const passwd* user = ::getpwnam("postgres");
        ASSERT_NE(user, nullptr);
        ASSERT_EQ(::chown(dir_->root().c_str(), user->pw_uid, user->pw_gid), 0);
        const std::string data = dir_->path("data");
        const e2e::Result init = as_postgres(
            {server_program("initdb"), "-D", data, "-A", "trust", "-U", "postgres", "-E", "UTF8"});
        ASSERT_EQ(init.status, 0) << init.err;
        const e2e::Result start =
            as_postgres({server_program("pg_ctl"), "-D", data, "-l", dir_->path("server.log"), "-w",
                         "-o", "-k " + dir_->root() + " -c listen_addresses=", "start"});
        ASSERT_EQ(start.status, 0) << start.out << start.err;
        started_ = true;
        const e2e::Result made =
            as_postgres({server_program("createdb"), "-h", dir_->root(), "catalogue"});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() {
        if (started_)
            as_postgres(
                {server_program("pg_ctl"), "-D", dir_->path("data"), "-m", "immediate", "stop"});
        delete dir_;
    }
    static std::string connection() {
        return "host=" + dir_->root() + " dbname=catalogue user=postgres";
    }
    static std::string query(const std::string& sql) {
        return as_postgres({server_program("psql"), "-X", "-A", "-t", "-h", dir_->root(), "-d",
                            "catalogue", "-c", sql})
            .out;
    }

    static e2e::TempTree* dir_;
    static bool started_;
};

e2e::TempTree* Postgres::dir_ = nullptr;
bool Postgres::started_ = false;

TEST_F(Postgres, RunsGoInByCopyEachCompleteWithItsRows) {
    e2e::TempTree t, keep;
    t.file("a/one.txt", "same");
    t.file("a/two.txt", "same");
    t.file("new\nline\\tab\t.txt", "x");
    t.file("bad\xff.txt", "y");
    const std::string jsonl = keep.path("list.jsonl");
    const e2e::Result first =
        e2e::run({t.root(), "-5", "--JSONL", "--DB=" + connection(), "-o", jsonl});
    ASSERT_EQ(first.status, 1) << first.err;
    const e2e::Result second = e2e::run(
        {t.root(), "-5", "--DB=postgresql:///catalogue?host=" + dir_->root() + "&user=postgres",
         "-o", t.path("list.txt")});
    ASSERT_EQ(second.status, 1) << second.err;
    EXPECT_EQ(query("SELECT run_id, status, listing_format FROM runs ORDER BY run_id"),
              "1|complete|jsonl\n2|complete|text\n");
    std::size_t rows = 0;
    for (const char c : e2e::read_file(jsonl)) rows += c == '\n';
    EXPECT_EQ(query("SELECT count(*) FROM entries WHERE run_id = 1"), std::to_string(rows) + "\n");
    // Exact names through COPY's escapes; numbers as numbers.
    EXPECT_EQ(query("SELECT count(*) FROM entries WHERE path = '" + t.path("new") +
                    "' || chr(10) || 'line\\tab' || chr(9) || '.txt'"),
              "2\n");
    EXPECT_EQ(query("SELECT count(DISTINCT path_bytes) FROM entries"), "1\n");
    EXPECT_EQ(query("SELECT count(*) FROM (SELECT md5 FROM entries WHERE run_id = 2 AND kind = "
                    "'file' GROUP BY md5 HAVING count(*) > 1) AS d"),
              "1\n");
    EXPECT_EQ(query("SELECT sum(size) FROM entries WHERE run_id = 2 AND kind = 'file'"), "10\n");
}

// The message and the accounting log name the server without the password.
TEST_F(Postgres, AServerThatCannotBeReachedLeavesTheListingWhole) {
    e2e::TempTree t;
    t.file("a.txt", "a");
    const struct {
        std::string value;
        std::string shown;
    } cases[] = {
        {"host=" + t.root() + " dbname=none password=secret",
         "host=" + t.root() + " dbname=none password=***"},
        {"postgresql://me:secret@/none?host=" + t.root(),
         "postgresql://me:***@/none?host=" + t.root()},
    };
    for (const auto& c : cases) {
        const std::string log = t.path("acct.log");
        const e2e::Result r =
            e2e::run({t.root(), "--DB=" + c.value, "--ACC=" + log, "-o", "stdout"});
        EXPECT_EQ(r.status, 4) << r.err;
        // The log keeps the command line, and the password stays out of it.
        const std::string logged = e2e::read_file(log);
        EXPECT_NE(logged.find(c.shown), std::string::npos) << logged;
        EXPECT_EQ(logged.find("secret"), std::string::npos) << logged;
        EXPECT_NE(r.out.find(t.path("a.txt")), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("Error writing the database " + c.shown + ": "), std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("secret"), std::string::npos) << r.err;
    }
}

TEST_F(Postgres, AnInterruptedRunIsAbortedWithTheRowsItWrote) {
    e2e::TempTree tree;
    ASSERT_NO_FATAL_FAILURE(e2e::linked_files(tree));
    e2e::Child child({tree.root(), "-5", "--DB=" + connection(), "-o", "stdout"});
    ASSERT_TRUE(child.pump([&](const std::string&) { return child.out().size() > 4096; }));
    ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
    const e2e::Result cut = child.finish();
    ASSERT_EQ(cut.status, 2) << cut.err;
    const std::string last = "(SELECT max(run_id) FROM runs)";
    EXPECT_EQ(query("SELECT status FROM runs WHERE run_id = " + last), "aborted\n");
    const auto rows =
        std::stoul("0" + query("SELECT count(*) FROM entries WHERE run_id = " + last));
    EXPECT_GT(rows, 0u);
    EXPECT_LT(rows, 4000u);
}

}  // namespace
