// The long options: every word of the table through the real parser, the
// matching order, the value forms, and the messages and exit reasons.
#include "options/long_options.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <variant>

#include "driver/termination.hpp"
#include "memory_platform.hpp"
#include "options/settings_parser.hpp"
#include "parse_helper.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

constexpr int parsed = -1;
const std::string IGNORED_START = "\nIllegal or incomplete minusminus option of \"--";

struct Row {
    Args args;
    int code;         // parsed, or the exit reason
    std::string out;  // standard output begins with this
    std::function<void(const filarix::Run&)> check;
    Prepare prepare = {};
};

using R = const filarix::Run&;

std::string ignored(const std::string& text) {
    return IGNORED_START + text +
           "\" IGNORED\nPlease check the option compatability and rerun if necessary\n";
}

std::string illegal(const std::string& text) {
    return "\nIllegal option: " + text;
}

const std::string no_hashing =
    "\n\n   No hashing options were chosen, so options RESET, -R is set to 0\n";

const std::vector<Row>& long_option_rows() {
    static const std::vector<Row> rows = {
        // 1, 2, 12, 47: recognised, nothing changes, no warning.
        {{u"--AND", u"--android", u"--access", u"--Create", u"--showat"},
         parsed,
         "",
         [](R r) { EXPECT_TRUE(flag_differences(r.s, parsed_defaults()).empty()); }},
        // 3
        {{u"--ADSONLY", u"--addsonly", u"--OnlyAds"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ADSONLY, 1);
             EXPECT_EQ(r.s.ADS, 0);
         }},
        // 4: ADS and anything beginning with it; RESET survives with a digest.
        {{u"--ADS", u"-c"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ADS, 1);
             EXPECT_EQ(r.s.RESET, 1);
             EXPECT_EQ(r.s.STREAM, 0);
         }},
        {{u"--ADS_COMP", u"-c"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ADS, 1);
             EXPECT_EQ(r.s.RESET, 1);
         }},
        {{u"--ads=x"}, parsed, "", [](R r) { EXPECT_EQ(r.s.ADS, 'x'); }},
        {{u"--ADS:y"}, parsed, "", [](R r) { EXPECT_EQ(r.s.ADS, 'y'); }},
        {{u"--ADS="}, parsed, "", [](R r) { EXPECT_EQ(r.s.ADS, 1); }},
        {{u"--addads", u"-c"}, parsed, "", [](R r) { EXPECT_EQ(r.s.ADS, 1); }},
        {{u"--ADSADD"}, parsed, no_hashing,
         [](R r) {
             EXPECT_EQ(r.s.ADS, 1);
             EXPECT_EQ(r.s.RESET, 0);  // no digest reads the files
         }},
        // 5
        {{u"--NO_ADS"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.NO_ADS, 1);
             EXPECT_EQ(r.s.STREAM, 0);
         }},
        {{u"--noads"}, parsed, "", [](R r) { EXPECT_EQ(r.s.NO_ADS, 1); }},
        {{u"--No-Ads"}, parsed, "", [](R r) { EXPECT_EQ(r.s.STREAM, 0); }},
        // 6: the log is opened after parsing.
        {{u"--accounting=acct.log"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ACCT, 1);
             EXPECT_EQ(text_of(r.s.acct_name), "C:\\work\\acct.log");
             EXPECT_NE(r.log, nullptr);
         }},
        {{u"--LOGFILE=D:\\logs\\run.log"}, parsed, "",
         [](R r) { EXPECT_EQ(text_of(r.s.acct_name), "D:\\logs\\run.log"); }},
        {{u"--acc"}, 6, illegal("acc"), {}},
        {{u"--log="}, 6, illegal("log="), {}},
        // 7
        {{u"--append"}, parsed, "", [](R r) { EXPECT_EQ(r.s.APPEND, 1); }},
        // 8, 9: no 1-based correction; a negative start reads from 0.
        {{u"--begin=100", u"--end=200"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.DISPLACE, 100);
             EXPECT_EQ(r.s.displace_end, 200);
         }},
        {{u"--beg=-5"}, parsed, "", [](R r) { EXPECT_EQ(r.s.DISPLACE, 0); }},
        {{u"--beg=99999999999999999999999"}, parsed, "",
         [](R r) { EXPECT_EQ(r.s.DISPLACE, INT64_MAX); }},
        {{u"--beg"}, 6, illegal("beg"), {}},
        {{u"--END="}, 6, illegal("END="), {}},
        // 10
        {{u"--comment=case 12"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.COMMENT, 1);
             EXPECT_EQ(text_of(r.s.comment_text), "case 12");
         }},
        {{u"--COM=abc=10"}, parsed, "", [](R r) { EXPECT_EQ(text_of(r.s.comment_text), "abc"); }},
        {{u"--com=abc="}, parsed, "", [](R r) { EXPECT_EQ(text_of(r.s.comment_text), "abc="); }},
        {{u"--comment"}, 6, illegal("comment"), {}},
        // 11
        {{u"-5s", u"--crc"}, parsed, "",
         [](R r) {
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
             EXPECT_FALSE(r.s.digests.has(DigestId::sha1));
             EXPECT_FALSE(r.s.digests.has(DigestId::md5));
         }},
        // 13: DELIM is left alone.
        {{u"--delimeter=pipe"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.delimiter, '|');
             EXPECT_EQ(r.s.DELIM, 0);
         }},
        {{u"--delimeter=pipe", u"-V"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.delimiter, '|');
             EXPECT_EQ(r.s.DELIM, 1);
         }},
        {{u"--DEL=;"}, parsed, "", [](R r) { EXPECT_EQ(r.s.delimiter, ';'); }},
        {{u"--del=44"}, parsed, "", [](R r) { EXPECT_EQ(r.s.delimiter, ','); }},
        {{u"--del=300"}, parsed, "", [](R r) { EXPECT_EQ(r.s.delimiter, ','); }},
        {{u"--delim"}, 6, illegal("delim"), {}},
        // 14, 15
        {{u"-Ad", u"--DIRSIZE"}, parsed, "", [](R r) { EXPECT_EQ(r.s.directories, 1); }},
        {{u"-Ad", u"--directories"}, parsed, "", [](R r) { EXPECT_EQ(r.s.directories, 2); }},
        // 16
        {{u"--drive=E"}, parsed, "", [](R r) { EXPECT_EQ(r.s.drive_letter, u'E'); }},
        {{u"--DRIVE=EF"}, parsed, "", [](R r) { EXPECT_EQ(r.s.drive_letter, 0); }},
        {{u"--dri="}, 6, illegal("dri="), {}},
        // 17: appended after the masks of -x.
        {{u"-x", u"a*", u"--exclude=*.tmp"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.EXCLUDE, 1);
             EXPECT_EQ(joined(r.s.exclude_list), "A*|*.TMP|");
         }},
        {{u"--exc"}, 6, illegal("exc"), {}},
        // 18
        {{u"--EXT"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.EXT, 1);
             EXPECT_TRUE(r.s.LFN);
             EXPECT_EQ(r.s.lfn_width, 32);
         }},
        // 19: anything beginning with FIL.
        {{u"--FILE_ID=abc", u"--files=*.c"}, parsed, "",
         [](R r) { EXPECT_EQ(joined(r.s.filetype_list), "abc|*.c|"); }},
        {{u"--file"}, 6, illegal("file"), {}},
        // 20
        {{u"--hashset"}, 6, illegal("hashset"), {}},
        {{u"--HASHSET=missing.txt", u"-c"}, 3, "\nCannot find/open missing.txt", {}},
        // Only named while the settings are read: the driver reads it.
        {{u"--diff=old.csv", u"--Changed"}, parsed, "",
         [](R r) {
             EXPECT_TRUE(r.s.diff_name == u"old.csv");
             EXPECT_EQ(r.s.CHANGED, 1);
         }},
        {{u"--DIFF"}, 6, illegal("DIFF"), {}},
        {{u"--reuse=Old.csv"}, parsed, "", [](R r) { EXPECT_TRUE(r.s.reuse_name == u"Old.csv"); }},
        {{u"--REUSE"}, 6, illegal("REUSE"), {}},
        // 21
        {{u"--greater=100"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.GREATER, 1);
             EXPECT_EQ(r.s.size_greater, 100);
         }},
        {{u"--BIGGER=5"}, parsed, "", [](R r) { EXPECT_EQ(r.s.size_greater, 5); }},
        {{u"--larger=99999999999999999999"}, 6, "\n\n  Check your option --greater=nnn  format. \n",
         {}},
        {{u"--greater=2023-01-01"}, 6,
         "\n\n  Check your option --greater=nnn  format. \n"
         "  You included a seperator which only pertains to date (--older=YYYY-MM-DD) formats in "
         "options\n",
         {}},
        {{u"--gre=1/2"}, 6, "\n\n  Check your option --greater=nnn  format. \n", {}},
        {{u"--greater"}, 6, illegal("greater"), {}},
        // 22
        {{u"--less=10"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.LESSTHAN, 1);
             EXPECT_EQ(r.s.size_less, 10);
         }},
        {{u"--SMALLER=7"}, parsed, "", [](R r) { EXPECT_EQ(r.s.size_less, 7); }},
        {{u"--sma="}, 6, illegal("sma="), {}},
        // 23: exact words only.
        {{u"--HASH"}, parsed, "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::md5)); }},
        {{u"--md5"}, parsed, "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::md5)); }},
        {{u"--hashes"}, parsed, ignored("hashes"), [](R r) { EXPECT_FALSE(r.s.digests.has(DigestId::md5)); }},
        {{u"--md5sum"}, parsed, ignored("md5sum"), [](R r) { EXPECT_FALSE(r.s.digests.has(DigestId::md5)); }},
        // 24
        {{u"--immediate"}, parsed, "",
         [](R r) { EXPECT_TRUE(flag_differences(r.s, parsed_defaults()).empty()); }},
        // 25: stored one higher; held to the int range.
        {{u"--levels=2"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.directories, 2);
             EXPECT_EQ(r.s.attr_filter, 1);
             EXPECT_EQ(r.s.levels, 3);
         }},
        {{u"--lev=99999999999"}, parsed, "", [](R r) { EXPECT_EQ(r.s.levels, INT32_MAX); }},
        {{u"--lev=-3"}, parsed, "", [](R r) { EXPECT_EQ(r.s.levels, 1); }},
        {{u"--levels"}, 6, illegal("levels"), {}},
        // 26
        {{u"--MEMO=case12.txt"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.MEMO, 1);
             EXPECT_TRUE(r.sys.exists(u"C:\\work\\case12.txt"));  // the memo file is open there
             ASSERT_NE(r.memo_stream(), nullptr);
             EXPECT_EQ(r.memo_stream(), r.memo_file.get());
         }},
        {{u"--memo"}, parsed, "",
         [](R r) { EXPECT_TRUE(r.sys.exists(u"C:\\cases\\picked.txt")); },
         [](MemoryPlatform& mp, filarix::Run&) {
             mp.add_dir(u"C:\\cases");
             mp.chosen_file = u"C:\\cases\\picked.txt";
         }},
        {{u"--memo"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.MEMO, 1);
             EXPECT_EQ(r.memo_stream(), nullptr);  // cancelled, and no log to take it
         }},
        // 27
        {{u"--milli"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.MILLI, 1);
             EXPECT_EQ(r.s.seconds, 1);
         }},
        {{u"--milli+"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.MILLI, 0);
             EXPECT_EQ(r.s.seconds, 1);
         }},
        {{u"-t0", u"--MILLISECONDS"}, parsed, "", [](R r) { EXPECT_EQ(r.s.time_type, 'w'); }},
        // 28
        {{u"--nameafter"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.NAMEAFTER, 1);
             EXPECT_EQ(r.s.nameafter_width, -1);
         }},
        {{u"--NAMEAFTER=30"}, parsed, "", [](R r) { EXPECT_EQ(r.s.nameafter_width, 30); }},
        {{u"--NAMEAFTER=30", u"--nameafter=-1"}, parsed, "",
         [](R r) { EXPECT_EQ(r.s.nameafter_width, -1); }},
        {{u"--nameafter=4000000000"}, parsed, "",
         [](R r) { EXPECT_EQ(r.s.nameafter_width, 32768); }},
        // 29
        {{u"--newer=30"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.aging, 1);
             EXPECT_EQ(r.s.NEWER, 1);
             EXPECT_EQ(r.s.OLDER, 0);
             EXPECT_EQ(r.s.newer_days, 30);
             EXPECT_EQ(r.s.date_kinds[3], 'w');
         }},
        {{u"--younger=30c"}, parsed, "", [](R r) { EXPECT_EQ(r.s.date_kinds[3], 'c'); }},
        {{u"--newer=01012023w"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.newer_date.month, 1);
             EXPECT_EQ(r.s.newer_date.day, 1);
             EXPECT_EQ(r.s.newer_date.year, 2023);
             EXPECT_EQ(r.s.date_kinds[1], 'w');
         }},
        {{u"--after=2023-12-25"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.newer_date.month, 12);
             EXPECT_EQ(r.s.newer_days, 20);
         }},
        {{u"--younger=230101"}, 6,
         "\n It appears your syntact for aging is incorrect\n\a"
         " You probably forgot to include seperators 2023-01-01\n"
         " For this syntax: --younger=20230101 you need dividers  --younger=2023-01-01\n",
         {}},
        {{u"--newer"}, 6, illegal("newer"), {}},
        // 30
        {{u"--older=20230101"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.aging, 1);
             EXPECT_EQ(r.s.OLDER, 1);
             EXPECT_EQ(r.s.older_date.year, 2023);
             EXPECT_EQ(r.s.older_date.month, 1);
             EXPECT_EQ(r.s.older_date.day, 1);
             EXPECT_EQ(r.s.older_days, 378);
         }},
        {{u"--BEFORE=20230101c"}, parsed, "", [](R r) { EXPECT_EQ(r.s.older_kind, 'c'); }},
        {{u"--prior=10a"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.older_days, 10);
             EXPECT_EQ(r.s.older_kind, 'a');
         }},
        {{u"--older=230101"}, 6,
         "\n It appears your syntact for aging is incorrect\n\a"
         " You probably forgot to include seperators 2023-01-01\n"
         " For this syntax: --older=20230101 you need dividers  --older=2023-01-01\n",
         {}},
        {{u"--older="}, 6, illegal("older="), {}},
        // 31: no date masks.
        {{u"-a", u"--output=list.txt"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.OUTPUT, ListingOutput::file);
             EXPECT_EQ(r.s.APPEND, 0);
             EXPECT_EQ(text_of(r.s.output_name), "C:\\work\\list.txt");
         }},
        {{u"--OUT=D:\\YYYYMMDD.txt"}, parsed, "",
         [](R r) {
             EXPECT_EQ(text_of(r.s.output_name), "D:\\YYYYMMDD.txt");
         }},
        {{u"--out"}, 6, illegal("out"), {}},
        // 32, 33
        {{u"--NOCHILD"}, parsed, "", [](R r) { EXPECT_EQ(r.s.NOCHILD, nochild_delete); }},
        {{u"--renchild"}, parsed, "", [](R r) { EXPECT_EQ(r.s.NOCHILD, nochild_name); }},
        // 34
        {{u"--path=C:\\data", u"--PATH=C:\\data\\"}, parsed, "",
         [](R r) { EXPECT_EQ(joined(r.s.root_list), "\\\\?\\C:\\data|"); },
         [](MemoryPlatform& mp, filarix::Run&) { mp.add_dir(u"C:\\data"); }},
        {{u"--path"}, 6, illegal("path"), {}},
        // 35, 36, 37
        {{u"--pause"}, parsed, "", [](R r) { EXPECT_EQ(r.s.PAUSE, 1); }},
        {{u"--PNAME"}, parsed, "", [](R r) { EXPECT_EQ(r.s.PNAME, 1); }},
        {{u"--NORECURSE"}, parsed, "", [](R r) { EXPECT_EQ(r.s.RECURSE, 0); }},
        // 38: ON/OFF values.
        {{u"--Recurse=off"}, parsed, "", [](R r) { EXPECT_EQ(r.s.RECURSE, 0); }},
        {{u"-r", u"--REC"}, parsed, "", [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {{u"-r", u"--recursive=On"}, parsed, "", [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {{u"-r", u"--recurse="}, parsed, "", [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {{u"--recurse=maybe"}, 6, illegal("recurse=maybe"), {}},
        // 39
        {{u"--reset", u"-c"}, parsed, "", [](R r) { EXPECT_EQ(r.s.RESET, 1); }},
        {{u"-RR", u"--RESET=OFF"}, parsed, "", [](R r) { EXPECT_EQ(r.s.RESET, 0); }},
        {{u"--reset=yes"}, 6, illegal("reset=yes"), {}},
        // 40: exact.
        {{u"--reverse"}, parsed, "", [](R r) { EXPECT_EQ(r.s.REVERSE, 1); }},
        {{u"--REVERSE=ON"}, parsed, ignored("REVERSE=ON"), [](R r) { EXPECT_EQ(r.s.REVERSE, 0); }},
        // 41
        {{u"--seconds"}, parsed, "", [](R r) { EXPECT_EQ(r.s.seconds, 1); }},
        {{u"-tW", u"--sec+"}, parsed, "", [](R r) { EXPECT_EQ(r.s.seconds, 0); }},
        // 42
        {{u"--sequence"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.SEQUENCE, 1);
             EXPECT_EQ(r.s.sequence_start, 1);
         }},
        {{u"--SEQ=1000"}, parsed, "", [](R r) { EXPECT_EQ(r.s.sequence_start, 1000); }},
        {{u"--seq=-4"}, parsed, "", [](R r) { EXPECT_EQ(r.s.sequence_start, 0); }},
        // 43 to 46
        {{u"--SHA"}, parsed, "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::sha1)); }},
        {{u"--sha1"}, parsed, "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::sha1)); }},
        {{u"--sha256", u"--SHA384", u"--sha512"}, parsed, "",
         [](R r) {
             EXPECT_FALSE(r.s.digests.has(DigestId::sha1));
             EXPECT_TRUE(r.s.digests.has(DigestId::sha256));
             EXPECT_TRUE(r.s.digests.has(DigestId::sha3));
             EXPECT_TRUE(r.s.digests.has(DigestId::sha512));
         }},
        {{u"--sha1=x"}, parsed, ignored("sha1=x"), [](R r) { EXPECT_FALSE(r.s.digests.has(DigestId::sha1)); }},
        // 48
        {{u"-r", u"--showlong"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.SHOWLONG, 1);
             EXPECT_EQ(r.s.RECURSE, 1);
             EXPECT_EQ(r.s.DELIM, 1);
             EXPECT_EQ(r.s.delimiter, '|');
             EXPECT_EQ(r.s.showlong_min, 260);
         }},
        {{u"--SHOWLONG=300"}, parsed, "", [](R r) { EXPECT_EQ(r.s.showlong_min, 300); }},
        {{u"--showlongest"}, parsed, "", [](R r) { EXPECT_EQ(r.s.SHOWLONG, 1); }},
        // 49
        {{u"--STREAMS=OFF"}, parsed, "", [](R r) { EXPECT_EQ(r.s.STREAM, 0); }},
        {{u"-S", u"--str"}, parsed, "", [](R r) { EXPECT_EQ(r.s.STREAM, 1); }},
        {{u"--stream=none"}, 6, illegal("stream=none"), {}},
        // 50, 51
        {{u"--UTF8"}, parsed, "", [](R r) { EXPECT_EQ(r.s.UTF8, 1); }},
        {{u"--utf=whatever"}, parsed, "", [](R r) { EXPECT_EQ(r.s.UTF8, 1); }},
        {{u"--var"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.VAR, 1);
             EXPECT_EQ(r.s.DELIM, 1);
         }},
        // 52
        {{u"--width=80"}, parsed, "", [](R r) { EXPECT_EQ(r.s.WIDTH, 80); }},
        {{u"--WID=99999"}, parsed, "", [](R r) { EXPECT_EQ(r.s.WIDTH, 32768); }},
        {{u"--wid=-3"}, parsed, "", [](R r) { EXPECT_EQ(r.s.WIDTH, 0); }},
        {{u"--width"}, 6, illegal("width"), {}},
        // 53
        {{u"--verbose=on"}, parsed, "\nno logfile option (-1) found. Auto logfile created\n",
         [](R r) { EXPECT_EQ(r.s.SILENT, 1); }},
        {{u"-v", u"--VER=OFF"}, parsed, "", [](R r) { EXPECT_EQ(r.s.SILENT, 0); }},
        {{u"--ver=2"}, 6, illegal("ver=2"), {}},
        // 54
        {{u"--zip", u"-c"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ZIPLOG, 1);
             EXPECT_EQ(r.s.RESET, 1);
             EXPECT_EQ(r.s.ziplog_name, u"");
         }},
        {{u"--ZIPLOG=on", u"-c"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ZIPLOG, 1);
             EXPECT_EQ(r.s.ziplog_name, u"");
         }},
        {{u"--zip", u"--ZIP=Off"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ZIPLOG, 0);
             EXPECT_EQ(r.s.RESET, 0);
         }},
        {{u"--zip=Members.txt", u"-c"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ZIPLOG, 1);
             EXPECT_EQ(text_of(r.s.ziplog_name), "C:\\work\\Members.txt");
         }},
        // 55: an existing file changes nothing; a missing one ends at once.
        {{u"--source=C:\\work\\src.txt", u"-c"}, parsed, "",
         [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::crc)); },
         [](MemoryPlatform& mp, filarix::Run&) { mp.add_file(u"C:\\work\\src.txt", "x"); }},
        {{u"--SOUR=missing.txt", u"-c"}, 3, "\nCannot find/open missing.txt", {}},
        {{u"--sour"}, parsed, ignored("sour"), {}},
        // 56
        {{u"--zulu"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ZULU, 1);
             EXPECT_EQ(r.s.TIME, 1);
         }},
        {{u"--GMT"}, parsed, "", [](R r) { EXPECT_EQ(r.s.ZULU, 1); }},
        {{u"--utc"}, parsed, "", [](R r) { EXPECT_EQ(r.s.ZULU, 1); }},
        {{u"-z", u"--zulu=OFF"}, parsed, "",
         [](R r) {
             EXPECT_EQ(r.s.ZULU, 0);
             EXPECT_EQ(r.s.TIME, 0);
         }},
        {{u"--zulu=maybe"}, parsed, "", [](R r) { EXPECT_EQ(r.s.ZULU, 0); }},
        {{u"--zulu=on"}, parsed, "", [](R r) { EXPECT_EQ(r.s.ZULU, 1); }},
        // 57: a warning, and parsing goes on.
        {{u"--UNICODE=x.txt", u"-c"}, parsed, ignored("UNICODE=x.txt"),
         [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::crc)); }},
        {{u"--"}, parsed, ignored(""), {}},
        {{u"+-a"}, parsed, ignored("a"), {}},
    };
    return rows;
}

std::string describe(const Args& args) {
    std::string text;
    for (const auto& a : args) text += " [" + text_of(a) + "]";
    return text;
}

TEST(LongOptions, EveryTableRow) {
    for (const Row& row : long_option_rows()) {
        SCOPED_TRACE(describe(row.args));
        // The actions asked for are performed, as the driver does, so that a
        // set file that cannot be read ends the parse.
        Parse p;
        p.perform_actions = true;
        p.go(row.args, row.prepare);
        EXPECT_EQ(p.code, row.code);
        EXPECT_EQ(p.process_exit, row.code == 3);
        EXPECT_EQ(p.out.substr(0, row.out.size()), row.out);
        // A recognised word draws no warning.
        if (row.out.empty() && row.code == parsed) {
            EXPECT_EQ(p.out.find(IGNORED_START), std::string::npos);
        }
        if (row.check) row.check(*p.run);
    }
}

TEST(LongOptions, AHashSetIsOnlyAskedFor) {
    Parse p;
    p.go({u"--HASHSET=missing.txt", u"-c"});
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(p.out, "");
    ASSERT_EQ(p.run->parse_actions.list.size(), 1u);
    const auto* load = std::get_if<LoadHashSetAction>(&p.run->parse_actions.list.front());
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->path, u"missing.txt");
}

TEST(LongOptions, WordsThatChangeNothingLeaveTheDefaults) {
    Parse p;
    p.go({u"--AND", u"--android", u"--access", u"--Create", u"--showat"});
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(paused_ms(*p.run), 0u);
    EXPECT_TRUE(flag_differences(p.run->s, parsed_defaults()).empty());
}

TEST(LongOptions, UnknownWordsPauseThreeSecondsEach) {
    Parse p;
    p.go({u"--unicode", u"--nothing=1"});
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(paused_ms(*p.run), 6000u);
    EXPECT_EQ(p.out, ignored("unicode") + ignored("nothing=1"));
}

TEST(LongOptions, MalformedValueEndsTheRunWithTheMessage) {
    // The whole standard output: the message, nothing after it but the
    // exit status the summary prints on the error stream.
    Parse p;
    p.go({u"--width", u"-c"});
    EXPECT_EQ(p.code, 6);
    EXPECT_EQ(p.out, "\nIllegal option: width");
    EXPECT_NE(p.err.find("Exit Status"), std::string::npos);
    EXPECT_FALSE(p.run->s.digests.has(DigestId::crc));  // nothing after it was read
}

TEST(LongOptions, ExcludeMasksBeyondEightyAreRefused) {
    Args args{u"-x"};
    for (int i = 1; i <= 79; ++i) args.push_back(u"*.E" + platform::widen(std::to_string(i)));
    args.push_back(u"--exc=*.last");
    Parse p;
    p.go(args);
    EXPECT_EQ(p.code, parsed);
    ASSERT_EQ(p.run->s.exclude_list.size(), 80u);
    EXPECT_EQ(text_of(p.run->s.exclude_list.back()), "*.LAST");

    args.push_back(u"--EXCLUDE=*.more");
    Parse q;
    q.go(args);
    EXPECT_EQ(q.code, 6);
    EXPECT_EQ(q.out, "\nYou have too many -eXclude file types.\nMax exclude types is 80\n");
    EXPECT_EQ(q.run->s.exclude_list.size(), 80u);
}

TEST(LongOptions, LogSwitchClosesTheOpenLogWithAPointer) {
    Parse p;
    p.perform_actions = true;
    p.go({u"--log=new.log"},
         [](MemoryPlatform& mp, filarix::Run&) { mp.env[u"ACCT"] = u"C:\\work\\env.log"; });
    EXPECT_EQ(p.code, parsed);
    const auto old_log = p.mp.contents(u"C:\\work\\env.log");
    ASSERT_TRUE(old_log);
    const std::string pointer = "Previous log closed, and C:\\work\\new.log opened\n";
    ASSERT_GE(old_log->size(), pointer.size());
    EXPECT_EQ(old_log->substr(old_log->size() - pointer.size()), pointer);
    EXPECT_NE(p.run->log, nullptr);
    EXPECT_EQ(text_of(p.run->log_name), "C:\\work\\new.log");
}

// On its own the source only asks: the environment's log is to be opened,
// closed with its pointer, and the new one opened, and no file is made.
TEST(LongOptions, LogSwitchOnlyAsksForTheLogs) {
    Parse p;
    p.go({u"--log=new.log", u"--SOURCE=missing.txt"},
         [](MemoryPlatform& mp, filarix::Run&) { mp.env[u"ACCT"] = u"C:\\work\\env.log"; });
    EXPECT_EQ(p.code, parsed);
    EXPECT_FALSE(p.mp.contents(u"C:\\work\\env.log"));
    EXPECT_FALSE(p.mp.contents(u"C:\\work\\new.log"));
    const auto& list = p.run->parse_actions.list;
    ASSERT_EQ(list.size(), 4u);
    const auto* env_log = std::get_if<OpenLogAction>(&list[0]);
    ASSERT_TRUE(env_log);
    EXPECT_EQ(text_of(env_log->name), "C:\\work\\env.log");
    const auto* close = std::get_if<CloseLogAction>(&list[1]);
    ASSERT_TRUE(close);
    EXPECT_EQ(close->last_lines, "Previous log closed, and C:\\work\\new.log opened\n");
    const auto* source = std::get_if<RequireFileAction>(&list[2]);
    ASSERT_TRUE(source);
    EXPECT_EQ(text_of(source->path), "C:\\work\\missing.txt");
    EXPECT_EQ(text_of(source->given), "missing.txt");
    const auto* new_log = std::get_if<OpenLogAction>(&list[3]);
    ASSERT_TRUE(new_log);
    EXPECT_EQ(text_of(new_log->name), "C:\\work\\new.log");
}

TEST(LongOptions, MemoFileGetsTheMemoAtTheEnd) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\a.txt", "a");
    mp.input_lines = {"first line", "", ""};
    const auto result = run_in_memory(mp, {u"filarix64", u"C:\\work", u"--memo=case12.txt"});
    EXPECT_EQ(result.code, 1);
    // The memo text comes from the prompt; the file exists from the start.
    EXPECT_TRUE(mp.contents(u"C:\\work\\case12.txt"));
}

TEST(LongOptions, DelimiterWordWithVariableRecords) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\a.txt", "alpha");
    const auto result =
        run_in_memory(mp, {u"filarix64", u"C:\\work", u"--delimeter=pipe", u"-V", u"--crc"});
    EXPECT_EQ(result.code, 1);
    const auto lines = listing_lines(result.err);
    ASSERT_EQ(lines.size(), 1u) << result.err;
    EXPECT_NE(lines[0].find("a.txt|"), std::string::npos) << lines[0];
}

}  // namespace

// With plain lookups in place of the platform, the names the options give
// are resolved by them, and the files are only asked for.
TEST(LongOptions, NamesResolvedByTheLookupsAndFilesOnlyAskedFor) {
    const auto lookups = [](MemoryPlatform&, filarix::Run& run) {
        run.parse_actions.lookups.full_path = [](std::u16string_view name) {
            return std::optional<std::u16string>(u"X:\\" + std::u16string(name));
        };
    };
    const struct {
        Args args;
        std::function<void(const filarix::Run&)> check;
    } rows[] = {
        {{u"--log=a.log"},
         [](const filarix::Run& r) {
             EXPECT_EQ(text_of(r.s.acct_name), "X:\\a.log");
             ASSERT_FALSE(r.parse_actions.list.empty());
             const auto* open = std::get_if<OpenLogAction>(&r.parse_actions.list.back());
             ASSERT_TRUE(open);
             EXPECT_EQ(text_of(open->name), "X:\\a.log");
         }},
        {{u"--ziplog=members.txt"},
         [](const filarix::Run& r) {
             EXPECT_EQ(r.s.ZIPLOG, 1);
             EXPECT_EQ(text_of(r.s.ziplog_name), "X:\\members.txt");
         }},
        {{u"--ziplog"}, [](const filarix::Run& r) { EXPECT_TRUE(r.s.ziplog_name.empty()); }},
        {{u"--memo=m.txt"},
         [](const filarix::Run& r) {
             ASSERT_FALSE(r.parse_actions.list.empty());
             const auto* open = std::get_if<OpenMemoAction>(&r.parse_actions.list.front());
             ASSERT_TRUE(open);
             EXPECT_EQ(text_of(open->name), "X:\\m.txt");
             EXPECT_TRUE(std::holds_alternative<MemoPromptAction>(r.parse_actions.list.back()));
         }},
        {{u"--memo"},
         [](const filarix::Run& r) {
             ASSERT_FALSE(r.parse_actions.list.empty());
             const auto* open = std::get_if<OpenMemoAction>(&r.parse_actions.list.front());
             ASSERT_TRUE(open);
             EXPECT_TRUE(open->name.empty());
         }},
        {{u"--output=list.txt"},
         [](const filarix::Run& r) { EXPECT_EQ(text_of(r.s.output_name), "X:\\list.txt"); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(describe(row.args));
        Parse p;
        p.go(row.args, lookups);
        EXPECT_EQ(p.code, parsed);
        EXPECT_EQ(p.run->log, nullptr);
        EXPECT_EQ(p.run->memo_file, nullptr);
        row.check(*p.run);
    }
}
