// The Windows route of per-file commands on the memory platform, the
// version text, the centred prompt and the paging keys.
#include <gtest/gtest.h>

#include "driver/help.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"

namespace {

using namespace testing_support;

TEST(Commands, WindowsTemplatesReachSpawnOrTheInterpreter) {
    struct Row {
        std::vector<std::u16string> options;
        std::vector<std::u16string> spawned;  // empty: the interpreter ran
        std::vector<std::u16string> shell;
    };
    const std::vector<Row> rows = {
        {{u"-e", u"notepad %"}, {u"C:\\d\\a&b%x%.txt"}, {}},
        {{u"-E", u"notepad /p"}, {u"/p", u"a&b%x%.txt"}, {}},
        {{u"-E", u"dir % /b"}, {}, {u"dir  ", u"a&b%x%.txt", u"  /b"}},
        {{u"-EP", u"cd -PATH && notepad %"},
         {},
         {u"cd ", u"C:\\d", u"  && notepad  ", u"a&b%x%.txt", u" "}},
    };
    for (const auto& row : rows) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\a&b%x%.txt", "x");
        mp.add_file(u"C:\\TOOLS\\notepad.exe", "");
        mp.search_dirs = {u"C:\\TOOLS"};
        std::vector<std::u16string> args{u"filarix64", u"C:\\d"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const auto result = run_in_memory(mp, args);
        EXPECT_EQ(result.code, 1) << result.out << result.err;
        if (row.spawned.empty()) {
            EXPECT_TRUE(mp.spawn_calls.empty());
            ASSERT_EQ(mp.shell_calls.size(), 1u);
            EXPECT_EQ(mp.shell_calls[0].parts, row.shell);
        } else {
            ASSERT_EQ(mp.spawn_calls.size(), 1u);
            EXPECT_EQ(mp.spawn_calls[0].program, u"C:\\TOOLS\\notepad.exe");
            EXPECT_EQ(mp.spawn_calls[0].args, row.spawned);
        }
    }
}

TEST(Help, VersionTextFromTheBuildDate) {
    struct Row {
        const char* date;
        const char* time;
        const char* suffix;
        const char* version;
    };
    for (const Row row : {Row{"Jan 14 2024", "15:42:16", "", "24.01.14.15.42"},
                          Row{"Jan  4 2024", "09:05:00", "", "24.01.04.09.05"},
                          Row{"Dec 31 1999", "23:59:59", "\xFB", "99.12.31.23.59\xFB"}})
        EXPECT_EQ(build_version(row.date, row.time, row.suffix), row.version) << row.date;
}

TEST(Paging, PromptsAreCentredAndKeysDecide) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    EXPECT_EQ(centre_line(run.std_err, "HIT RETURN to CONTINUE"), 29 + 22);
    run.std_err.flush();
    EXPECT_EQ(mp.err_text, std::string(29, ' ') + "HIT RETURN to CONTINUE");
    // The help's first break never asks; the second takes a key.
    struct Row {
        std::deque<int> keys;
        bool ends;
    };
    for (const auto& row : {Row{{'\r'}, false}, Row{{'x'}, true}, Row{{'X'}, true}, Row{{27}, true},
                            Row{{3}, true}, Row{{}, true}}) {
        MemoryPlatform keyboard;
        keyboard.keys = row.keys;
        keyboard.in_is_terminal = true;
        keyboard.err_is_terminal = true;
        filarix::Run help_run(keyboard);
        HelpScreens screens(help_run, help_run.std_err);
        screens.help_page_break(0);
        bool ended = false;
        try {
            screens.help_page_break(3);
        } catch (const ProcessExit& exit) {
            ended = true;
            EXPECT_EQ(exit.code, 6);
        }
        EXPECT_EQ(ended, row.ends);
    }
}

TEST(Help, ScreensOnlyWhereAPersonReadsAndAnswers) {
    struct Row {
        std::u16string option;
        bool keyboard, out_console, err_console;
        bool on_out, paged;
    };
    for (const Row& row : {
             Row{u"-?", true, true, true, false, true},
             Row{u"-?", true, false, true, true, false},       // filarix64 -? | less
             Row{u"--help", false, true, true, false, false},  // filarix64 --help < /dev/null
             Row{u"--help", true, true, false, false, false},  // filarix64 --help 2> help.txt
         }) {
        MemoryPlatform mp;
        mp.in_is_terminal = row.keyboard;
        mp.out_is_terminal = row.out_console;
        mp.err_is_terminal = row.err_console;
        mp.keys = {'x'};
        const RunResult r = run_in_memory(mp, {u"filarix64", row.option});
        const std::string& help = row.on_out ? r.out : r.err;
        EXPECT_NE(help.find("-p paths"), std::string::npos) << help;
        EXPECT_EQ(help.find("RETURN TO CONTINUE") != std::string::npos, row.paged);
        EXPECT_EQ(help.find("last updated") == std::string::npos, row.paged);
        EXPECT_EQ(mp.keys.empty(), row.paged);
    }
}

}  // namespace
