// The environment variables: each one's effect, the order of the sources
// (the command line overrides the environment), and what a run that used
// one reports at its end.
#include "options/environment.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "driver/parse_action_performer.hpp"
#include "driver/termination.hpp"
#include "memory_platform.hpp"
#include "options/settings_parser.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

using Args = std::vector<std::u16string>;
using Env = std::map<std::u16string, std::u16string>;

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// One parse with the given variables set, as the driver starts it.
struct Parse {
    MemoryPlatform mp;
    std::unique_ptr<filarix::Run> run;
    int code = -1;
    std::string out;
    std::string err;

    void go(const Env& env, const Args& args = {}) {
        for (const auto& [name, value] : env) mp.env[name] = value;
        run = std::make_unique<filarix::Run>(mp);
        give_sources_lookups(*run);
        run->args = {u"C:\\TOOLS\\FILARIX64.EXE"};
        run->args.insert(run->args.end(), args.begin(), args.end());
        apply_start_up_defaults(run->s);
        // As the driver does: the logs the variables name are opened as asked.
        perform_parse_actions_as_asked(*run);
        try {
            parse_settings(*run);
        } catch (const RunEnded& ended) {
            code = terminate_run(*run, ended.reason);
        }
        run->std_out.flush();
        run->std_err.flush();
        out = mp.out_text;
        err = mp.err_text;
    }
};

using R = const filarix::Run&;

struct Row {
    const char* what;
    Env env;
    Args args;
    int used;         // environment_used after parsing
    std::string err;  // standard error begins with this
    std::function<void(const filarix::Run&)> check;
};

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        // ----- each variable -----
        {"ACCT names the log, opened at once; ACCT stays off",
         {{u"ACCT", u"env.log"}},
         {},
         1,
         "",
         [](R r) {
             ASSERT_NE(r.log, nullptr);
             EXPECT_EQ(r.log_name, u"C:\\work\\env.log");
             EXPECT_EQ(r.s.ACCT, 0);
         }},
        {"ACCT=ON is the file ACCT-ING",
         {{u"ACCT", u"On"}},
         {},
         1,
         "",
         [](R r) { EXPECT_EQ(r.log_name, u"C:\\work\\ACCT-ING"); }},
        {"a log that cannot be opened is not used",
         {{u"ACCT", u"Q:\\nowhere\\a.log"}},
         {},
         0,
         "",
         [](R r) { EXPECT_EQ(r.log, nullptr); }},
        {"DELIMETER sets the delimiter only",
         {{u"DELIMETER", u";"}},
         {},
         1,
         "env points to :;:",
         [](R r) {
             EXPECT_EQ(r.s.delimiter, ';');
             EXPECT_EQ(r.s.DELIM, 0);
         }},
        {"DELIMETER after a double quote",
         {{u"DELIMETER", u"\"|\""}},
         {},
         1,
         "env points to :|\":",
         [](R r) { EXPECT_EQ(r.s.delimiter, '|'); }},
        {"DELIMETER of a quote alone names nothing",
         {{u"DELIMETER", u"\""}},
         {},
         0,
         "",
         [](R r) { EXPECT_EQ(r.s.delimiter, ' '); }},
        {"RESET=on", {{u"RESET", u"on"}}, {u"-c"}, 1, "", [](R r) { EXPECT_EQ(r.s.RESET, 1); }},
        {"RESET=OFF",
         {{u"RESET", u"OFF"}},
         {u"-RR"},
         1,
         "",
         [](R r) {
             EXPECT_EQ(r.s.RESET, 2);  // the command line comes after
         }},
        {"RECURSE=off", {{u"RECURSE", u"off"}}, {}, 1, "", [](R r) { EXPECT_EQ(r.s.RECURSE, 0); }},
        {"RECURSE=no changes nothing",
         {{u"RECURSE", u"no"}},
         {},
         0,
         "",
         [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {"WIDTH=80", {{u"WIDTH", u"80"}}, {}, 1, "", [](R r) { EXPECT_EQ(r.s.WIDTH, 80); }},
        {"WIDTH=abc is 0", {{u"WIDTH", u"abc"}}, {}, 1, "", [](R r) { EXPECT_EQ(r.s.WIDTH, 0); }},
        {"WIDTH held to a column's width",
         {{u"WIDTH", u"99999999999999999999"}},
         {},
         1,
         "",
         [](R r) { EXPECT_EQ(r.s.WIDTH, 32768); }},
        {"TIME=a chooses the time, not the column",
         {{u"TIME", u"a"}},
         {},
         1,
         "",
         [](R r) {
             EXPECT_EQ(r.s.time_type, 'a');
             EXPECT_EQ(r.s.TIME, 0);
         }},
        {"TIME=3", {{u"TIME", u"3"}}, {}, 1, "", [](R r) { EXPECT_EQ(r.s.time_type, '3'); }},
        {"empty values name nothing",
         {{u"ACCT", u""}, {u"WIDTH", u""}, {u"TIME", u""}},
         {},
         0,
         "",
         [](R r) {
             EXPECT_EQ(r.log, nullptr);
             EXPECT_EQ(r.s.WIDTH, 54);
             EXPECT_EQ(r.s.time_type, 'w');
         }},
        {"all six together",
         {{u"ACCT", u"on"},
          {u"DELIMETER", u","},
          {u"RESET", u"ON"},
          {u"RECURSE", u"OFF"},
          {u"WIDTH", u"60"},
          {u"TIME", u"c"}},
         {u"-c"},
         6,
         "env points to :,:",
         [](R r) {
             EXPECT_NE(r.log, nullptr);
             EXPECT_EQ(r.s.delimiter, ',');
             EXPECT_EQ(r.s.RESET, 1);
             EXPECT_EQ(r.s.RECURSE, 0);
             EXPECT_EQ(r.s.WIDTH, 60);
             EXPECT_EQ(r.s.time_type, 'c');
         }},
        // ----- the command line overrides the environment -----
        {"+r after RECURSE=OFF",
         {{u"RECURSE", u"OFF"}},
         {u"+r"},
         1,
         "",
         [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {"--recurse=on after RECURSE=OFF",
         {{u"RECURSE", u"OFF"}},
         {u"--recurse=on"},
         1,
         "",
         [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {"-r toggles the environment's value",
         {{u"RECURSE", u"OFF"}},
         {u"-r"},
         1,
         "",
         [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {"-w after WIDTH",
         {{u"WIDTH", u"80"}},
         {u"-w", u"100"},
         1,
         "",
         [](R r) { EXPECT_EQ(r.s.WIDTH, 100); }},
        {"-d after DELIMETER",
         {{u"DELIMETER", u";"}},
         {u"-d", u","},
         1,
         "env points to :;:",
         [](R r) {
             EXPECT_EQ(r.s.delimiter, ',');
             EXPECT_EQ(r.s.DELIM, 1);
         }},
        {"-t after TIME",
         {{u"TIME", u"a"}},
         {u"-tc"},
         1,
         "",
         [](R r) {
             EXPECT_EQ(r.s.time_type, 'c');
             EXPECT_EQ(r.s.TIME, 1);
         }},
        {"+R after RESET=ON",
         {{u"RESET", u"ON"}},
         {u"+R", u"-c"},
         1,
         "",
         [](R r) { EXPECT_EQ(r.s.RESET, 0); }},
        {"-1 replaces the environment's log",
         {{u"ACCT", u"env.log"}},
         {u"-1", u"new.log"},
         1,
         "",
         [](R r) {
             EXPECT_EQ(r.s.ACCT, 1);
             EXPECT_EQ(r.log_name, u"C:\\work\\new.log");
         }},
        {"unrelated variables change nothing",
         {{u"PATH", u"C:\\Windows"}, {u"SILENT", u"on"}},
         {},
         0,
         "",
         {}},
    };
    return table;
}

TEST(EnvironmentVariables, EachVariableAndThePrecedence) {
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.what);
        Parse p;
        p.go(row.env, row.args);
        EXPECT_EQ(p.code, -1);
        EXPECT_EQ(p.run->environment_used, row.used);
        EXPECT_EQ(p.err.substr(0, row.err.size()), row.err);
        if (row.err.empty()) {
            EXPECT_EQ(p.err.find("env points to"), std::string::npos);
        }
        if (row.check) row.check(*p.run);
    }
}

TEST(EnvironmentVariables, TheEnvironmentsLogIsToldWhoReplacedIt) {
    Parse p;
    p.go({{u"ACCT", u"env.log"}}, {u"-1", u"new.log"});
    const auto old_log = p.mp.contents(u"C:\\work\\env.log");
    ASSERT_TRUE(old_log);
    EXPECT_TRUE(ends_with(*old_log,
                          "This file closed.\n"
                          "Accounting file overridden by option -1 file pointing to "
                          "C:\\work\\new.log\n"))
        << *old_log;
}

TEST(EnvironmentVariables, ARunThatUsedOneSaysSoAtTheEnd) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\top.txt", "top");
    mp.add_file(u"C:\\work\\sub\\deep.txt", "deep");
    mp.env[u"RECURSE"] = u"OFF";
    mp.env[u"ACCT"] = u"ON";
    const auto result = run_in_memory(mp, {u"filarix64", u"C:\\work"});
    EXPECT_EQ(result.code, 1);
    EXPECT_TRUE(ends_with(result.err, "\nENVIRONMENT PROCESSED\n")) << result.err;
    // Recursion was off: only the top file is listed.
    EXPECT_NE(result.err.find("top.txt"), std::string::npos);
    EXPECT_EQ(result.err.find("deep.txt"), std::string::npos);
    const auto log = mp.contents(u"C:\\work\\ACCT-ING");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("\nStarted "), std::string::npos) << *log;
    EXPECT_NE(log->find("\n     An environment variable found and used\n"), std::string::npos)
        << *log;
}

TEST(EnvironmentVariables, AListingFileWithoutALogSaysSo) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\top.txt", "top");
    mp.env[u"WIDTH"] = u"40";
    const auto result = run_in_memory(mp, {u"filarix64", u"C:\\work", u"-o", u"list.txt"});
    EXPECT_EQ(result.code, 1);
    const auto listing = mp.contents(u"C:\\work\\list.txt");
    ASSERT_TRUE(listing);
    EXPECT_NE(listing->find("\n     An environment variable found and used\n"), std::string::npos)
        << *listing;
    EXPECT_TRUE(ends_with(result.err, "\nENVIRONMENT PROCESSED\n")) << result.err;
}

TEST(EnvironmentVariables, ARunWithoutThemSaysNothing) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\top.txt", "top");
    mp.env[u"RECURSE"] = u"sometimes";
    const auto result = run_in_memory(mp, {u"filarix64", u"C:\\work"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err.find("ENVIRONMENT PROCESSED"), std::string::npos);
    EXPECT_EQ(result.err.find("An environment variable"), std::string::npos);
}

TEST(EnvironmentVariables, DelimiterReachesTheRecords) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\a.txt", "alpha");
    mp.env[u"DELIMETER"] = u";";
    const auto result = run_in_memory(mp, {u"filarix64", u"C:\\work", u"-V"});
    EXPECT_EQ(result.code, 1);
    const auto lines = listing_lines(result.err);
    bool found = false;
    for (const auto& line : lines) found = found || line.find("a.txt;") != std::string::npos;
    EXPECT_TRUE(found) << result.err;
}

}  // namespace

// On its own the source only asks for the log; nothing is opened or counted.
// Its inputs are plain lookups: no variable comes from the platform.
TEST(EnvironmentVariables, TheLogIsOnlyAskedFor) {
    MemoryPlatform mp;
    mp.env[u"ACCT"] = u"from the platform";
    filarix::Run run(mp);
    run.parse_actions.lookups.environment =
        [](std::u16string_view name) -> std::optional<std::u16string> {
        if (name == u"ACCT") return u"ON";
        return std::nullopt;
    };
    run.parse_actions.lookups.full_path = [](std::u16string_view name) {
        return std::optional<std::u16string>(u"D:\\logs\\" + std::u16string(name));
    };
    apply_start_up_defaults(run.s);
    read_environment(run);
    ASSERT_EQ(run.parse_actions.list.size(), 1u);
    const auto* open = std::get_if<OpenLogAction>(&run.parse_actions.list[0]);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->name, u"D:\\logs\\ACCT-ING");
    EXPECT_FALSE(mp.contents(u"D:\\logs\\ACCT-ING"));
    EXPECT_EQ(run.log, nullptr);
    EXPECT_EQ(run.environment_used, 0);
}
