// The run written into PostgreSQL (--DB=host=... dbname=...) through the
// binary, against a throwaway server of its own: initdb and pg_ctl as the
// postgres user, listening on a Unix socket in a temporary directory only.
#include <gtest/gtest.h>
#include <pwd.h>

#include <algorithm>
#include <memory>
#include <set>
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

// The role that signs in with a password (scram-sha-256), owning a
// database of its own.
const std::string kKeyholder = "keyholder";
const std::string kPassword = "right-secret";

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
        // The first matching line counts: the keyholder needs its password.
        const std::string hba = data + "/pg_hba.conf";
        const std::string rules = e2e::read_file(hba);
        std::ofstream(hba, std::ios::trunc) << "local all " << kKeyholder << " scram-sha-256\n"
                                            << rules;
        const e2e::Result start = start_server();
        ASSERT_EQ(start.status, 0) << start.out << start.err;
        started_ = true;
        const e2e::Result made =
            as_postgres({server_program("createdb"), "-h", dir_->root(), "catalogue"});
        ASSERT_EQ(made.status, 0) << made.err;
        const e2e::Result role =
            psql("CREATE ROLE " + kKeyholder + " LOGIN PASSWORD '" + kPassword + "'", "postgres");
        ASSERT_EQ(role.status, 0) << role.err;
        const e2e::Result vault = as_postgres(
            {server_program("createdb"), "-h", dir_->root(), "-O", kKeyholder, "vault"});
        ASSERT_EQ(vault.status, 0) << vault.err;
    }
    static void TearDownTestSuite() {
        if (started_) stop_server();
        delete dir_;
    }
    static e2e::Result start_server() {
        return as_postgres({server_program("pg_ctl"), "-D", dir_->path("data"), "-l",
                            dir_->path("server.log"), "-w", "-o",
                            "-k " + dir_->root() + " -c listen_addresses=", "start"});
    }
    static e2e::Result stop_server() {
        return as_postgres(
            {server_program("pg_ctl"), "-D", dir_->path("data"), "-m", "immediate", "stop"});
    }
    static std::string connection() {
        return "host=" + dir_->root() + " dbname=catalogue user=postgres";
    }
    // The keyholder's database, signed in with `password`.
    static std::string keyed_connection(const std::string& password) {
        return "host=" + dir_->root() + " dbname=vault user=" + kKeyholder +
               " password=" + password;
    }
    static e2e::Result psql(const std::string& sql, const std::string& database) {
        return as_postgres({server_program("psql"), "-X", "-A", "-t", "-h", dir_->root(), "-d",
                            database, "-c", sql});
    }
    static std::string query(const std::string& sql, const std::string& database = "catalogue") {
        return psql(sql, database).out;
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
        // A line feed is a space to libpq and a "?" in every message.
        {"host=" + t.root() + "\ndbname=none password=secret",
         "host=" + t.root() + "?dbname=none password=***"},
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

// Four runs at once into one server: each its own run_id and its own rows.
TEST_F(Postgres, FourRunsAtOnceEachKeepTheirOwnRows) {
    std::vector<std::unique_ptr<e2e::TempTree>> trees;
    std::vector<std::unique_ptr<e2e::Child>> runs;
    for (int i = 0; i < 4; ++i) {
        trees.push_back(std::make_unique<e2e::TempTree>());
        ASSERT_NO_FATAL_FAILURE(e2e::linked_files(*trees.back()));
    }
    for (const auto& tree : trees)
        runs.push_back(std::make_unique<e2e::Child>(std::vector<std::string>{
            tree->root(), "-5", "--JSONL", "--DB=" + connection(), "-o", "stdout"}));
    // Each listing is far larger than a pipe: a run whose output is not
    // read waits mid-way with its COPY open, until all four are there.
    std::string starts;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        e2e::Child& run = *runs[i];
        ASSERT_TRUE(run.pump([&](const std::string&) { return run.out().size() > 4096; }));
        starts += std::string(starts.empty() ? "" : ", ") + "'[\"" + trees[i]->root() + "/\"]'";
    }
    EXPECT_EQ(query("SELECT count(*) FROM runs WHERE status = 'running' AND start_paths IN (" +
                    starts + ")"),
              "4\n");

    std::set<std::string> ids;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const e2e::Result r = runs[i]->finish();
        ASSERT_EQ(r.status, 1) << r.err;
        const std::string id = query(
            "SELECT run_id FROM runs WHERE status = 'complete' AND "
            "start_paths = '[\"" +
            trees[i]->root() + "/\"]'");
        ASSERT_NE(id, "");
        ids.insert(id);
        // The run's rows are the paths of its own listing, each once.
        std::vector<std::string> paths;
        const std::string key = "\"path\":\"";
        for (std::size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos;
             at = end + 1) {
            const std::size_t path = r.out.find(key, at);
            ASSERT_LT(path, end) << r.out.substr(at, end - at);
            const std::size_t begin = path + key.size();
            paths.push_back(r.out.substr(begin, r.out.find('"', begin) - begin));
        }
        std::sort(paths.begin(), paths.end());
        std::string listed;
        for (const std::string& p : paths) listed += p + "\n";
        EXPECT_GT(paths.size(), 4000u);
        EXPECT_EQ(query("SELECT path FROM entries WHERE run_id = " + id.substr(0, id.size() - 1) +
                        " ORDER BY path COLLATE \"C\""),
                  listed);
    }
    EXPECT_EQ(ids.size(), 4u);
}

// The server gone mid-run: the listing is still written whole, the run
// ends with the output-file status, and its row never says complete.
TEST_F(Postgres, AServerStoppedMidRunLeavesTheRunIncomplete) {
    e2e::TempTree tree;
    ASSERT_NO_FATAL_FAILURE(e2e::linked_files(tree));
    const std::string listed =
        e2e::without_banner(e2e::run({tree.root(), "-5", "-o", "stdout"}).out);
    e2e::Child child({tree.root(), "-5", "--DB=" + keyed_connection(kPassword), "-o", "stdout"});
    // The listing is far larger than the pipe: unread, it holds the run mid-way.
    ASSERT_TRUE(child.pump([&](const std::string&) { return child.out().size() > 4096; }));
    std::string id = query("SELECT max(run_id) FROM runs", "vault");
    id.pop_back();
    ASSERT_EQ(query("SELECT status FROM runs WHERE run_id = " + id, "vault"), "running\n");
    const e2e::Result stopped = stop_server();
    const e2e::Result cut = child.finish();
    const e2e::Result restarted = start_server();
    ASSERT_EQ(stopped.status, 0) << stopped.err;
    ASSERT_EQ(restarted.status, 0) << restarted.err;
    EXPECT_EQ(cut.status, 4) << cut.err;
    EXPECT_EQ(e2e::without_banner(cut.out), listed);
    const std::string message = e2e::line_with(cut.err, "Error writing the database");
    EXPECT_EQ(message.find("Error writing the database " + keyed_connection("***") + ": "), 0u)
        << cut.err;
    EXPECT_NE(message.find("the listing goes on without it"), std::string::npos) << cut.err;
    EXPECT_EQ(cut.err.find("secret"), std::string::npos) << cut.err;
    EXPECT_EQ(query("SELECT status FROM runs WHERE run_id = " + id, "vault"), "running\n");
    EXPECT_EQ(query("SELECT count(*) FROM entries WHERE run_id = " + id, "vault"), "0\n");
}

// A wrong password: the server's refusal is named, the run ends with the
// output-file status, and no password is written anywhere.
TEST_F(Postgres, AWrongPasswordIsRefusedAndNeverWrittenDown) {
    e2e::TempTree t, keep;
    t.file("a.txt", "a");
    const struct {
        std::string value;
        std::string shown;
        int status;
    } cases[] = {
        {keyed_connection("wrong-secret"), keyed_connection("***"), 4},
        {"postgresql://" + kKeyholder + ":wrong-secret@/vault?host=" + dir_->root(),
         "postgresql://" + kKeyholder + ":***@/vault?host=" + dir_->root(), 4},
        {keyed_connection(kPassword), keyed_connection("***"), 1},
    };
    for (const auto& c : cases) {
        // The listing file's banner holds the command line; with --ACC the
        // log holds it instead.
        const std::string log = keep.path("acct.log");
        const std::string listing = keep.path("list.txt");
        const e2e::Result logged =
            e2e::run({t.root(), "--DB=" + c.value, "--ACC=" + log, "-o", "stdout"});
        const e2e::Result r = e2e::run({t.root(), "--DB=" + c.value, "-o", listing});
        EXPECT_EQ(logged.status, c.status) << logged.err;
        EXPECT_EQ(r.status, c.status) << r.err;
        const std::string banner = e2e::read_file(listing);
        EXPECT_NE(banner.find("--DB=" + c.shown), std::string::npos) << banner;
        EXPECT_NE(banner.find(t.path("a.txt")), std::string::npos) << banner;
        EXPECT_NE(e2e::read_file(log).find("--DB=" + c.shown), std::string::npos);
        for (const std::string& text :
             {logged.out, logged.err, r.out, r.err, banner, e2e::read_file(log)})
            EXPECT_EQ(text.find("secret"), std::string::npos) << text;
        if (c.status == 4) {
            const std::string message = e2e::line_with(r.err, "Error writing the database");
            EXPECT_EQ(message.find("Error writing the database " + c.shown + ": "), 0u) << r.err;
            EXPECT_NE(message.find("password authentication failed for user \"" + kKeyholder),
                      std::string::npos)
                << r.err;
        }
        std::filesystem::remove(log);
    }
    // Only the run that got in holds a row, and its command line no password.
    EXPECT_EQ(query("SELECT status, command_line LIKE '%password=***%' FROM runs WHERE "
                    "command_line LIKE '%" +
                        t.root() + "%'",
                    "vault"),
              "complete|t\ncomplete|t\n");
    EXPECT_EQ(query("SELECT count(*) FROM runs WHERE command_line LIKE '%secret%'", "vault"),
              "0\n");
}

}  // namespace
