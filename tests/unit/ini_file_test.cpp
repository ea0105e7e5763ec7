// The INI file: every key and its effect on the settings, the six places
// it is looked for, the shared file's sections, comments, the boolean rule,
// and how it stands between the environment and the command line.
#include "options/ini_file.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <variant>

#include "driver/parse_action_performer.hpp"
#include "driver/termination.hpp"
#include "memory_platform.hpp"
#include "parse_helper.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

// The INI file applied to a run that holds the start-up defaults, the way
// the parser starts it; nothing else is read.
struct IniRead {
    MemoryPlatform mp;
    std::unique_ptr<filarix::Run> run;
    int code = -1;  // -1: the reader went through
    std::string out;
    std::string err;

    void go(const std::function<void(MemoryPlatform&, filarix::Run&)>& prepare = {}) {
        mp.out_text.clear();
        mp.err_text.clear();
        run = std::make_unique<filarix::Run>(mp);
        give_sources_lookups(*run);
        run->args = {mp.executable};
        run->program_name = u"FILARIX64";
        apply_start_up_defaults(run->s);
        if (prepare) prepare(mp, *run);
        try {
            read_ini_file(*run);
        } catch (const RunEnded& ended) {
            code = terminate_run(*run, ended.reason);
        }
        run->std_out.flush();
        run->std_err.flush();
        out = mp.out_text;
        err = mp.err_text;
    }

    // The file of the program's own name in the current directory.
    void with(const std::string& ini,
              const std::function<void(MemoryPlatform&, filarix::Run&)>& prepare = {}) {
        mp.add_file(u"C:\\work\\FILARIX64.ini", ini);
        go(prepare);
    }
};

RunSettings start_up_record() {
    RunSettings s;
    apply_start_up_defaults(s);
    return s;
}

// Names the fields of the record that differ, by their place in it.
struct KeyCase {
    std::string ini;
    std::function<void(RunSettings&)> settings;          // the changes to the start-up record
    std::function<void(const filarix::Run&)> globals{};  // checks of the other globals
    std::string out{};                                   // the messages on standard output
    std::uint64_t slept_ms = 0;                          // the pause after them
};

void run_key_cases(const std::vector<KeyCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        IniRead r;
        r.with(c.ini);
        ASSERT_EQ(r.code, -1);
        RunSettings want = start_up_record();
        c.settings(want);
        EXPECT_EQ(flag_differences(r.run->s, want), "");
        if (c.globals) c.globals(*r.run);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(paused_ms(*r.run), c.slept_ms);
    }
}

auto nothing = [](RunSettings&) {};

TEST(IniFile, AccountingAndHashKeys) {
    run_key_cases({
        {"ACCT=C:\\logs\\a.log", [](RunSettings& s) { s.ACCT = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(text_of(r.s.acct_name), "C:\\LOGS\\A.LOG"); }},
        {"ACCTING=b.log", [](RunSettings& s) { s.ACCT = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(text_of(r.s.acct_name), "C:\\work\\B.LOG"); }},
        {"ACCOUNT=c.log", [](RunSettings& s) { s.ACCT = 1; }},
        {"LOG=d.log", [](RunSettings& s) { s.ACCT = 1; }},
        {"ACCT=OFF", nothing},
        {"ACCT", nothing, {}, "\nMissing ini file modifier at: ACCT=", 2000},
        {"ALL_HT=ON",
         [](RunSettings& s) {
             s.TIME = 1;
             s.time_type = '3';
             s.ALL_HT = 1;
             s.digests.add(DigestId::md5);
         }},
        {"ALL_HT=OFF", nothing},
        {"ALL_HT", nothing, {}, "\nMissing ini file modifier at: ALL_HT", 2000},
        {"ALL_TIMES",
         [](RunSettings& s) {
             s.TIME = 1;
             s.time_type = '3';
         }},
        {"ALLTIMES=YES",
         [](RunSettings& s) {
             s.TIME = 1;
             s.time_type = '3';
         }},
        {"ALL_TIMES=OFF", nothing},
        {"APPEND", [](RunSettings& s) { s.APPEND = 1; }},
        {"APPEND=OFF", nothing},
        // Accepted and ignored: nothing in the record changes.
        {"AUTO=ON", nothing},
        {"CRC=yes", [](RunSettings& s) { s.digests.add(DigestId::crc); }},
        {"HASH", [](RunSettings& s) { s.digests.add(DigestId::md5); }},
        {"SHA=OFF", nothing},
        {"SHA", [](RunSettings& s) { s.digests.add(DigestId::sha1); }},
        // The longer digests' keys are not the SHA key.
        {"SHA256=ON", [](RunSettings& s) { s.digests.add(DigestId::sha256); }},
        {"SHA512", [](RunSettings& s) { s.digests.add(DigestId::sha512); }},
        {"SHA3=OFF", nothing},
        {"XXH3=ON", [](RunSettings& s) { s.digests.add(DigestId::xxh3); }},
        {"XXH3=OFF", nothing},
        {"BLAKE3=ON", [](RunSettings& s) { s.digests.add(DigestId::blake3); }},
        {"BLAKE3=OFF", nothing},
        {"UNKNOWN", [](RunSettings& s) { s.hashset_match = hashset_unknown_only; }},
        {"HASHSET", nothing, {}, "\nMissing ini file directive HASHSET", 2000},
        // Upper-cased, as every value is where names ignore case.
        {"REUSE=C:\\Old\\List.csv", nothing,
         [](const filarix::Run& r) { EXPECT_EQ(text_of(r.s.reuse_name), "C:\\OLD\\LIST.CSV"); }},
        {"REUSE", nothing, {}, "\nMissing ini file directive REUSE", 2000},
        {"CSV=ON", [](RunSettings& s) { s.table_format = table_csv; }},
        {"JSONL=ON\nCSV=OFF", [](RunSettings& s) { s.table_format = table_jsonl; }},
        {"PROGRESS", [](RunSettings& s) { s.precount = 1; }},
        {"FDI=ON", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.s.DISPLACE, 512); }},
        {"FDI=OFF", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.s.DISPLACE, 0); }},
        {"FDI", nothing, {}, "\nMissing/Illegal ini file directive FDI", 2000},
        {"DISPLACE=8589934592", nothing,
         [](const filarix::Run& r) { EXPECT_EQ(r.s.DISPLACE, 8589934592LL); }},
        {"DISPLACE=OFF", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.s.DISPLACE, 0); }},
        {"DISPLACE", nothing, {}, "\nMissing ini file directive: DISPLACE", 0},
    });
}

TEST(IniFile, LayoutKeys) {
    run_key_cases({
        {"COMMENT=Case 12", [](RunSettings& s) { s.COMMENT = 1; },
         [](const filarix::Run& r) {
             EXPECT_EQ(text_of(r.s.comment_text), "CASE 12");
             EXPECT_EQ(r.ini_echo, "\n COMMENT=CASE 12");
         }},
        // A comment key without a value is applied but not echoed.
        {"COMMENT", [](RunSettings& s) { s.COMMENT = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(r.ini_echo, ""); }},
        {"DELIM=;", [](RunSettings& s) { s.DELIM = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.delimiter, ';'); }},
        {"DELIM=OFF", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.s.delimiter, ' '); }},
        {"DELIM", nothing, {}, "\nMissing ini file directive DELIM", 2000},
        {"EXT",
         [](RunSettings& s) {
             s.LFN = true;
             s.EXT = 1;
         }},
        {"NAMEONLY", [](RunSettings& s) { s.NAMEONLY = 1; }},
        {"PPATHONLY=ON", [](RunSettings& s) { s.PPATHONLY = 1; }},
        {"REVERSE", [](RunSettings& s) { s.REVERSE = 1; }},
        {"REVERSE=NO", nothing},
        {"VAR", [](RunSettings& s) { s.VAR = 1; }},
        {"WIDTH=80", [](RunSettings& s) { s.WIDTH = 80; }},
        {"WIDTH", nothing, {}, "\nMissing ini file modifier at: WIDTH", 2000},
        {"LFN=ON", [](RunSettings& s) { s.eight_dot_three = true; },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.lfn_width, 32); }},
        {"LFN=40", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.s.lfn_width, 40); }},
        {"8.3", [](RunSettings& s) { s.eight_dot_three = 1; }},
        {"8.3=ON\nLFN=ON", [](RunSettings& s) { s.eight_dot_three = true; }},
        {"STREAM=ON", nothing},
        {"STREAM=OFF", [](RunSettings& s) { s.STREAM = 0; }},
        {"STREAM",
         [](RunSettings& s) { s.STREAM = 0; },
         {},
         "\nIllegal ini file directive STREAM",
         2000},
    });
}

TEST(IniFile, TimeKeys) {
    run_key_cases({
        {"TIME=c",
         [](RunSettings& s) {
             s.TIME = 1;
             s.time_type = 'C';
             s.seconds = 1;
         }},
        {"TIME",
         [](RunSettings& s) { s.seconds = 1; },
         {},
         "\nIllegal ini file directive TIME",
         2000},
        {"MILITARY=ON", [](RunSettings& s) { s.TIME = 1; }},
        {"TIME=A\nMILITARY=OFF",
         [](RunSettings& s) {
             s.time_type = 'A';
             s.seconds = 1;
         }},
        // Without a value the line decides nothing.
        {"MILITARY", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.ini_echo, "\n MILITARY"); }},
        {"MILLI",
         [](RunSettings& s) {
             s.MILLI = 1;
             s.seconds = 1;
         }},
        {"MILLI=OFF", [](RunSettings& s) { s.seconds = 1; }},
        {"ZULU=ON",
         [](RunSettings& s) {
             s.TIME = 1;
             s.ZULU = 1;
         }},
        {"GMT=YES",
         [](RunSettings& s) {
             s.TIME = 1;
             s.ZULU = 1;
         }},
        {"ZULU", [](RunSettings& s) { s.TIME = 1; }, {}, "\nIllegal ini file directive ZULU", 2000},
    });
}

TEST(IniFile, SelectionKeys) {
    run_key_cases({
        {"EXC=*.tmp", [](RunSettings& s) { s.EXCLUDE = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(joined(r.s.exclude_list), "*.TMP|"); }},
        {"X=*.bak\nEXCLUDE=~*", [](RunSettings& s) { s.EXCLUDE = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(joined(r.s.exclude_list), "*.BAK|~*|"); }},
        {"EXC",
         [](RunSettings& s) { s.EXCLUDE = 1; },
         {},
         "\nMissing/illegal ini file directive EXC",
         2000},
        {"FILE=*.doc\nFILE=*.txt", nothing,
         [](const filarix::Run& r) { EXPECT_EQ(joined(r.s.filetype_list), "*.DOC|*.TXT|"); }},
        {"FILE", nothing, {}, "\nMissing/Illegal ini file directive FILE", 2000},
        {"PATH=C:\\data", nothing,
         [](const filarix::Run& r) { EXPECT_EQ(joined(r.s.root_list), "\\\\?\\C:\\DATA|"); }},
        {"PATH", nothing, {}, "\nMissing/Illegal ini file directive PATH", 2000},
        {"GREATER=1000", [](RunSettings& s) { s.GREATER = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.size_greater, 1000); }},
        {"LARGER=5000000000", [](RunSettings& s) { s.GREATER = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.size_greater, 5000000000LL); }},
        {"BIGGER=7", [](RunSettings& s) { s.GREATER = 1; }},
        {"GREATER",
         nothing,
         {},
         "\nMissing ini file modifier at: GREATER\nGREATER size option turned OFF",
         3000},
        {"LESSTHAN=500", [](RunSettings& s) { s.LESSTHAN = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.size_less, 500); }},
        {"SMALLER=9", [](RunSettings& s) { s.LESSTHAN = 1; }},
        {"SMALLER",
         nothing,
         {},
         "\nIllegal ini file directive SMALLER\nLESSTHAN size option turned OFF",
         3000},
        {"OLDER=30",
         [](RunSettings& s) {
             s.aging = 1;
             s.OLDER = 1;
         },
         [](const filarix::Run& r) {
             EXPECT_EQ(r.s.older_days, 30);
             EXPECT_EQ(r.s.date_kinds[2], '0');
         }},
        // No upper limit on day counts here, unlike the command line.
        {"OLDER=200000",
         [](RunSettings& s) {
             s.aging = 1;
             s.OLDER = 1;
         },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.older_days, 200000); }},
        {"OLDER",
         nothing,
         {},
         "\nMissing ini file modifier at: OLDER\nAging modifier turned off",
         2000},
        {"NEWER=10",
         [](RunSettings& s) {
             s.aging = 1;
             s.NEWER = 1;
         },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.newer_days, 10); }},
        {"YOUNGER=2024-01-01",
         [](RunSettings& s) {
             s.aging = 1;
             s.NEWER = 1;
         },
         [](const filarix::Run& r) {
             EXPECT_EQ(r.s.newer_date.year, 2024);
             EXPECT_EQ(r.s.newer_date.month, 1);
         }},
        {"YOUNGER",
         nothing,
         {},
         "\nMissing ini modifier at: YOUNGER\nAging modifier turned off",
         2000},
    });
}

TEST(IniFile, RunKeys) {
    run_key_cases({
        {"IMMEDIATE=OFF", nothing},
        {"NO_COUNT=OFF", nothing},
        {"PAUSE=YES", [](RunSettings& s) { s.PAUSE = 1; }},
        {"RECURSE=OFF", [](RunSettings& s) { s.RECURSE = 0; }},
        {"recurse=off", [](RunSettings& s) { s.RECURSE = 0; },
         [](const filarix::Run& r) { EXPECT_EQ(r.ini_echo, "\n RECURSE=OFF"); }},
        {"RECURSE", nothing, {}, "\nMissing ini file directive at: RECURSE", 2000},
        {"RESET", [](RunSettings& s) { s.RESET = 1; }},
        {"SILENT=ON", [](RunSettings& s) { s.SILENT = 1; }},
        // The start value of this pair is off.
        {"VERBOSE", nothing},
        {"SPLIT=1000",
         [](RunSettings& s) {
             s.SILENT = 1;
             s.SPLIT = 1;
         },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.split_lines, 1000); }},
        {"SPLIT",
         [](RunSettings& s) { s.SILENT = 1; },
         {},
         "\nIllegal ini file directive SPLIT",
         2000},
        {"OUTPUT=C:\\out\\list.txt", [](RunSettings& s) { s.OUTPUT = ListingOutput::file; },
         [](const filarix::Run& r) { EXPECT_EQ(text_of(r.s.output_name), "C:\\OUT\\LIST.TXT"); }},
        {"OUTPUT", nothing, {}, "\nMissing ini file modifier at: OUTPUTOutput set to NOne\n", 3000},
        {"SORT=N-", [](RunSettings& s) { s.SORT = 1; },
         [](const filarix::Run& r) {
             EXPECT_EQ(r.s.sort_keys[0], 'N');
             EXPECT_EQ(r.s.sort_dirs[0], -1);
             EXPECT_EQ(r.s.sort_keys[1], RunSettings::sort_end);
         }},
        {"SORT=S\nSORT=D-", [](RunSettings& s) { s.SORT = 1; },
         [](const filarix::Run& r) {
             EXPECT_EQ(r.s.sort_keys[0], 'S');
             EXPECT_EQ(r.s.sort_dirs[0], 1);
             EXPECT_EQ(r.s.sort_keys[1], 'D');
             EXPECT_EQ(r.s.sort_dirs[1], -1);
             EXPECT_EQ(r.s.sort_keys[2], RunSettings::sort_end);
         }},
        {"SORT=0", [](RunSettings& s) { s.SORT = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(r.s.sort_keys[0], RunSettings::sort_end); }},
        // A key line without a key leaves the default order alone.
        {"SORT", nothing,
         [](const filarix::Run& r) {
             EXPECT_EQ(r.s.sort_keys[0], 'n');
             EXPECT_EQ(r.s.sort_keys[1], RunSettings::sort_end);
         }},
        {"MEMO=OFF", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.memo_stream(), nullptr); }},
        {"MEMO=C:\\work\\case12.txt", [](RunSettings& s) { s.MEMO = 1; },
         // The file is asked for, to be opened by the driver.
         [](const filarix::Run& r) {
             ASSERT_EQ(r.parse_actions.list.size(), 1u);
             const auto* open = std::get_if<OpenMemoAction>(&r.parse_actions.list[0]);
             ASSERT_TRUE(open);
             EXPECT_EQ(text_of(open->name), "C:\\WORK\\CASE12.TXT");
             EXPECT_EQ(r.memo_stream(), nullptr);
         }},
        {"MEMO", [](RunSettings& s) { s.MEMO = 1; },
         [](const filarix::Run& r) {
             ASSERT_EQ(r.parse_actions.list.size(), 1u);
             const auto* open = std::get_if<OpenMemoAction>(&r.parse_actions.list[0]);
             ASSERT_TRUE(open);
             EXPECT_TRUE(open->name.empty());
         }},
    });
}

TEST(IniFile, KeysAreFoundAnywhereOrAtTheStartAsTheTableSays) {
    run_key_cases({
        // The comment key comes first, so the time key in its text is text.
        {"COMMENT=TIME CHECK", [](RunSettings& s) { s.COMMENT = 1; }},
        {"X=PAUSE", [](RunSettings& s) { s.EXCLUDE = 1; },
         [](const filarix::Run& r) { EXPECT_EQ(joined(r.s.exclude_list), "PAUSE|"); }},
        // Keys are looked for before "=", never in a value.
        {"OUTFILE=C:\\PAUSE\\A", nothing},
        {"SOME_PAUSE=ON", [](RunSettings& s) { s.PAUSE = 1; }},
        // A start key later in the line is not a key.
        {"MY_CRC=ON", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.ini_echo, ""); }},
        {"  RECURSE=OFF", [](RunSettings& s) { s.RECURSE = 0; }},
        {"BOGUS=1", nothing, [](const filarix::Run& r) { EXPECT_EQ(r.ini_echo, ""); }},
        {"; RECURSE=OFF\n# CRC\n[FILARIX64]\nHASH",
         [](RunSettings& s) { s.digests.add(DigestId::md5); },
         [](const filarix::Run& r) { EXPECT_EQ(r.ini_echo, "\n HASH"); }},
        {"CRC\r\nRECURSE=OFF\r\n",
         [](RunSettings& s) {
             s.digests.add(DigestId::crc);
             s.RECURSE = 0;
         },
         [](const filarix::Run& r) { EXPECT_EQ(r.ini_echo, "\n CRC\n RECURSE=OFF"); }},
    });
}

TEST(IniFile, BooleanRule) {
    const struct {
        const char* line;
        int value;
    } cases[] = {
        // The value is searched: any ON or YES sets, OFF wins over both.
        {"APPEND=MAYBE", 1}, {"APPEND=ON OFF", 0}, {"APPEND=", 1},        {"RECURSE=MAYBE", 1},
        {"STREAM=MAYBE", 0}, {"SILENT=NONE", 1},   {"SILENT=OFFLINE", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        IniRead r;
        r.with(c.line);
        const std::string key(c.line, std::strcspn(c.line, "="));
        const int got = key == "APPEND"    ? r.run->s.APPEND
                        : key == "RECURSE" ? r.run->s.RECURSE
                        : key == "STREAM"  ? r.run->s.STREAM
                                           : r.run->s.SILENT;
        EXPECT_EQ(got, c.value);
    }
}

TEST(IniFile, AnAccountingFileAlreadyOpenIsClosedWithANote) {
    IniRead r;
    r.with("ACCT=C:\\work\\new.log", [](MemoryPlatform& mp, filarix::Run& run) {
        perform_parse_actions_as_asked(run);
        run.log = std::make_unique<OutStream>(
            mp.open_text(u"C:\\work\\env.log", platform::OpenMode::write));
    });
    EXPECT_EQ(r.run->log, nullptr);
    EXPECT_EQ(r.mp.contents(u"C:\\work\\env.log"),
              "This file closed.\n"
              "Accounting file overridden by .ini file pointing to C:\\WORK\\NEW.LOG\n");
}

TEST(IniFile, ExcludeMasksBeyondTheListAreRefusedAndTheRunGoesOn) {
    std::string ini;
    for (int i = 1; i <= 82; ++i) ini += "X=*.e" + std::to_string(i) + "\n";
    ini += "CRC\n";
    IniRead r;
    r.with(ini);
    EXPECT_EQ(r.code, -1);
    ASSERT_EQ(r.run->s.exclude_list.size(), exclude_capacity);
    EXPECT_EQ(text_of(r.run->s.exclude_list.back()), "*.E80");
    EXPECT_EQ(r.out,
              "\nYou have too many -eXclude file types.\nMax exclude types is 80\n"
              "\nYou have too many -eXclude file types.\nMax exclude types is 80\n");
    EXPECT_TRUE(r.run->s.digests.has(DigestId::crc));
}

TEST(IniFile, SixPlacesInTheirOrder) {
    // With a program of another name all six places are different files.
    const std::u16string places[] = {
        u"C:\\work\\CATALOG.ini",   u"C:\\TOOLS\\CATALOG.ini",  u"C:\\work\\QUORVANE.INI",
        u"C:\\TOOLS\\QUORVANE.INI", u"C:\\work\\FILARIX64.ini", u"C:\\TOOLS\\FILARIX64.ini",
    };
    for (std::size_t first = 0; first < 6; ++first) {
        SCOPED_TRACE(text_of(places[first]));
        IniRead r;
        r.go([&](MemoryPlatform& mp, filarix::Run& run) {
            mp.executable = u"C:\\TOOLS\\CATALOG.EXE";
            run.program_name = u"CATALOG";
            for (std::size_t i = first; i < 6; ++i)
                mp.add_file(places[i], "[CATALOG]\nWIDTH=" + std::to_string(10 + i) + "\n");
        });
        EXPECT_EQ(r.run->s.WIDTH, static_cast<int>(10 + first));
        EXPECT_EQ(r.run->ini_applied, 1);
    }
    IniRead none;
    none.go();
    EXPECT_EQ(none.run->ini_applied, 0);
    EXPECT_EQ(none.run->ini_echo, "");
}

TEST(IniFile, TheProgramsOwnFileComesBeforeTheSharedOne) {
    IniRead r;
    r.go([](MemoryPlatform& mp, filarix::Run&) {
        mp.add_file(u"C:\\work\\FILARIX64.ini", "CRC\n");
        mp.add_file(u"C:\\TOOLS\\QUORVANE.INI", "[FILARIX64]\nHASH\n");
    });
    EXPECT_TRUE(r.run->s.digests.has(DigestId::crc));
    EXPECT_FALSE(r.run->s.digests.has(DigestId::md5));
    for (const auto& open : r.mp.read_opens)
        EXPECT_EQ(text_of(open.path).find("QUORVANE"), std::string::npos);
}

TEST(IniFile, SharedFileSections) {
    const struct {
        const char* ini;
        const char* echo;
    } cases[] = {
        {"[OTHER]\nCRC\n[filarix64]\nHASH\nWIDTH=70\n[NEXT]\nSHA\n", "\n HASH\n WIDTH=70"},
        {"HASH\n[OTHER]\nCRC\n", ""},
        {"[FILARIX64]\nHASH\nNOTE [FILARIX64] AGAIN\nCRC\n", "\n HASH"},
        {"[FILARIX64]\n; CRC\nHASH\n", "\n HASH"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        IniRead r;
        r.go([&](MemoryPlatform& mp, filarix::Run&) {
            mp.add_file(u"C:\\work\\QUORVANE.INI", c.ini);
        });
        EXPECT_EQ(r.run->ini_echo, c.echo);
        EXPECT_FALSE(r.run->s.digests.has(DigestId::crc));
        EXPECT_FALSE(r.run->s.digests.has(DigestId::sha1));
    }
}

TEST(IniFile, AFileThatCannotBeOpenedWaitsForEnterAndGivesNoSettings) {
    IniRead r;
    r.go([](MemoryPlatform& mp, filarix::Run&) {
        mp.add_file(u"C:\\work\\FILARIX64.ini", "CRC\n", {.locked = true});
        mp.input_lines = {"", "left"};
    });
    EXPECT_EQ(r.out, "\nCouldn't open .ini file\n");
    EXPECT_FALSE(r.run->s.digests.has(DigestId::crc));
    EXPECT_EQ(r.mp.input_lines.size(), 1u);
    EXPECT_EQ(r.run->ini_applied, 0);
}

// ----- whole runs -----

RunSettings settings_after(MemoryPlatform& mp, std::vector<std::u16string> args) {
    RunSettings s;
    run_in_memory(mp, std::move(args), [&](filarix::Run& run) { s = run.s; });
    return s;
}

TEST(IniFile, TheCommandLineOverridesTheIniFile) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\FILARIX64.ini", "RECURSE=OFF\nWIDTH=60\n");
    EXPECT_EQ(settings_after(mp, {u"prog"}).RECURSE, 0);
    EXPECT_EQ(settings_after(mp, {u"prog", u"+r"}).RECURSE, 1);
    EXPECT_EQ(settings_after(mp, {u"prog", u"-w", u"40"}).WIDTH, 40);
    // "-.ini" anywhere: the file is not even opened.
    mp.read_opens.clear();
    const RunSettings skipped = settings_after(mp, {u"prog", u"-.ini"});
    EXPECT_EQ(skipped.RECURSE, 1);
    EXPECT_EQ(skipped.WIDTH, 54);
    for (const auto& open : mp.read_opens)
        EXPECT_EQ(text_of(open.path).find(".ini"), std::string::npos);
}

TEST(IniFile, TheIniFileOverridesTheEnvironment) {
    MemoryPlatform mp;
    mp.env[u"WIDTH"] = u"70";
    EXPECT_EQ(settings_after(mp, {u"prog"}).WIDTH, 70);
    mp.add_file(u"C:\\work\\FILARIX64.ini", "WIDTH=60\n");
    EXPECT_EQ(settings_after(mp, {u"prog"}).WIDTH, 60);
    EXPECT_EQ(settings_after(mp, {u"prog", u"-w", u"40"}).WIDTH, 40);
    mp.env[u"RECURSE"] = u"ON";
    mp.add_file(u"C:\\work\\FILARIX64.ini", "RECURSE=OFF\n");
    EXPECT_EQ(settings_after(mp, {u"prog"}).RECURSE, 0);
}

TEST(IniFile, TheConsoleOutputEndsWithTheIniBlock) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\FILARIX64.ini", "crc\nrecurse=off\nnothing here\n");
    mp.add_file(u"C:\\work\\a.txt", "abc");
    const auto result = run_in_memory(mp, {u"prog"});
    EXPECT_EQ(result.code, 1);
    const std::string block = "\n ----- INI FILE PROCESSED -----\n\n CRC\n RECURSE=OFF\n";
    ASSERT_GE(result.err.size(), block.size());
    EXPECT_EQ(result.err.substr(result.err.size() - block.size()), block) << result.err;
}

TEST(IniFile, TheIniBlockComesBeforeTheEnvironmentLine) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\FILARIX64.ini", "CRC\n");
    const auto result =
        run_in_memory(mp, {u"prog"}, [](filarix::Run& run) { run.environment_used = 1; });
    const std::string tail = "\n ----- INI FILE PROCESSED -----\n\n CRC\n\nENVIRONMENT PROCESSED\n";
    ASSERT_GE(result.err.size(), tail.size());
    EXPECT_EQ(result.err.substr(result.err.size() - tail.size()), tail);
}

TEST(IniFile, ALineLongerThanTheOldLineBufferIsReadWhole) {
    const std::string directory(300, 'D');
    IniRead r;
    r.with("OUTPUT=C:\\" + directory + "\\LIST.TXT\nCRC\n");
    EXPECT_EQ(text_of(r.run->s.output_name), "C:\\" + directory + "\\LIST.TXT");
    EXPECT_TRUE(r.run->s.digests.has(DigestId::crc));
    EXPECT_EQ(r.run->s.PAUSE, 0);
}

TEST(IniFile, TheLogCarriesTheIniContents) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\FILARIX64.ini", "ACCT=C:\\work\\run.log\nCRC\n");
    const auto result = run_in_memory(mp, {u"prog"});
    const auto log = mp.contents(u"C:\\work\\RUN.LOG");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("\n INI FILE CONTENTS\n ACCT=C:\\WORK\\RUN.LOG\n CRC\n END INI FILE\n"),
              std::string::npos)
        << *log;
}

}  // namespace

// The source reads the lines it is handed: no file is looked for, and the
// names it gives are resolved by the lookup, not the platform.
TEST(IniFile, LinesHandedToTheSourceWithoutAPlatformFile) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    apply_start_up_defaults(run.s);
    run.parse_actions.lookups.ini_file = [] {
        return std::optional<IniFileText>(
            IniFileText{{"[OTHER]", "ACCT=skipped.log", "[FILARIX64]", "ACCT=run.log", "MEMO=m.txt",
                         "OUTPUT=list.txt", "[NEXT]", "RECURSE=OFF"},
                        "[FILARIX64]"});
    };
    run.parse_actions.lookups.full_path = [](std::u16string_view name) {
        return std::optional<std::u16string>(u"Y:\\" + std::u16string(name));
    };
    read_ini_file(run);
    EXPECT_EQ(run.ini_applied, 1);
    EXPECT_EQ(text_of(run.s.acct_name), "Y:\\RUN.LOG");
    EXPECT_EQ(run.s.ACCT, 1);
    EXPECT_EQ(text_of(run.s.output_name), "Y:\\LIST.TXT");
    EXPECT_EQ(run.s.RECURSE, parsed_defaults().RECURSE);
    ASSERT_EQ(run.parse_actions.list.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<CloseLogAction>(run.parse_actions.list[0]));
    const auto* memo = std::get_if<OpenMemoAction>(&run.parse_actions.list[1]);
    ASSERT_TRUE(memo);
    EXPECT_EQ(text_of(memo->name), "Y:\\M.TXT");
    EXPECT_EQ(run.log, nullptr);
    EXPECT_EQ(run.memo_file, nullptr);
}
