// The short options of the command line: each letter's effect on the
// settings, the value forms, and every message and exit reason.
#include "options/command_line.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <variant>

#include "driver/disk_label_counter.hpp"
#include "driver/help.hpp"
#include "driver/parse_action_performer.hpp"
#include "driver/termination.hpp"
#include "memory_platform.hpp"
#include "options/disk_label.hpp"
#include "options/settings_parser.hpp"
#include "parse_helper.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

// The help as a run without a keyboard writes it: every screen, no pause.
std::string help_text() {
    MemoryPlatform mp;
    {
        filarix::Run run(mp);
        give_sources_lookups(run);
        apply_start_up_defaults(run.s);
        show_help(run);
    }
    return mp.err_text;
}

constexpr int parsed = -1;
const std::string HELP = "<help>";  // stands for the help screens

struct Row {
    Args args;
    int code;         // parsed, or the exit reason
    std::string out;  // standard output begins with this (HELP: the help screens)
    std::string err;  // standard error begins with this (HELP: the help screens)
    std::function<void(const filarix::Run&)> check;
};

using R = const filarix::Run&;

const std::vector<Row>& option_rows() {
    static const std::vector<Row> rows = {
        // ----- scanning -----
        {{u"-rcs"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.RECURSE, 0);
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
             EXPECT_TRUE(r.s.digests.has(DigestId::sha1));
         }},
        {{u"/c", u"/r"}, parsed, "", "",
         [](R r) {
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
             EXPECT_EQ(r.s.RECURSE, 0);
         }},
        {{u"+c"}, parsed, "", "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::crc)); }},
        {{u"-", u"+", u"-.ini", u"-9", u"-X", u"-Xabc"}, parsed, "", "",
         [](R r) { EXPECT_TRUE(flag_differences(r.s, parsed_defaults()).empty()); }},
        {{u"-c", u"data"},
         6,
         "\nThere appears to be an extra or eroneous item \"data\"\n"
         "at the end of the command line\nPlease check your syntax, and correct to problem.\n",
         "",
         {}},
        {{u"-c", u""}, 6, "\nThere appears to be an extra or eroneous item \"\"\n", "", {}},
        {{u"-cKs"}, 6, "\nIllegal option Ks\n", "", {}},
        {{u"-j"}, 6, "\nIllegal option j\n", "", {}},
        {{u"-c/s"}, 6, "\nIllegal option /s\n", "", {}},
        {{u"C:\\data", u"-r", u"-f", u"*.txt"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(joined(r.s.root_list), "\\\\?\\C:\\data|");
             EXPECT_EQ(r.s.RECURSE, 0);
             EXPECT_EQ(joined(r.s.filetype_list), "*.txt|");
         }},
        // ----- long options -----
        {{u"--nosuchword", u"-c"}, parsed,
         "\nIllegal or incomplete minusminus option of \"--nosuchword\" IGNORED\n"
         "Please check the option compatability and rerun if necessary\n",
         "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::crc)); }},
        {{u"+-word"}, parsed, "\nIllegal or incomplete minusminus option of \"--word\" IGNORED\n",
         "", {}},
        // ----- -1 -----
        {{u"-1", u"acct.log"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.ACCT, 1);
             EXPECT_EQ(text_of(r.s.acct_name), "C:\\work\\acct.log");
             EXPECT_NE(r.log, nullptr);
         }},
        {{u"-1D:\\logs\\a.log"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.acct_name), "D:\\logs\\a.log"); }},
        {{u"-1"}, 6, "", HELP, {}},
        {{u"-1", u"-c"}, 6, "", HELP, {}},
        {{u"-1", u"a.log", u"+1"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.ACCT, 0); }},
        // ----- -5 -8 -----
        {{u"-5"}, parsed, "", "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::md5)); }},
        {{u"-8"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.eight_dot_three, 1);
             EXPECT_EQ(r.s.LFN, 0);
             EXPECT_EQ(r.s.EXT, 0);
         }},
        {{u"-8e"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.eight_dot_three, 1);
             EXPECT_EQ(r.s.EXT, 1);
         }},
        {{u"-8Ex"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.EXT, 2); }},
        {{u"-8Ee"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.EXT, 1); }},
        {{u"-88"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.eight_dot_three, 0);
             EXPECT_EQ(r.s.LFN, 1);
             EXPECT_EQ(r.s.lfn_width, 33);
         }},
        {{u"-8830PRE"}, parsed, "", "",
         [](R r) {
             EXPECT_TRUE(r.s.LFN);
             EXPECT_EQ(r.s.lfn_width, 30);
             EXPECT_EQ(r.s.EXT, 2);
         }},
        {{u"-8840e"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.lfn_width, 40);
             EXPECT_EQ(r.s.EXT, 1);
         }},
        {{u"-88PRE"}, parsed, "", "",
         [](R r) {
             EXPECT_TRUE(r.s.LFN);
             EXPECT_EQ(r.s.lfn_width, 33);  // no number: the width stays
             EXPECT_EQ(r.s.EXT, 2);
         }},
        {{u"-8899999999999999999999"}, parsed, "", "",
         [](R r) { EXPECT_EQ(r.s.lfn_width, 32768); }},
        {{u"-8r"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.eight_dot_three, 1);
             EXPECT_EQ(r.s.RECURSE, 0);
         }},
        {{u"-88", u"-8"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.eight_dot_three, 1);
             EXPECT_EQ(r.s.LFN, 0);
         }},
        // ----- -? -----
        // Asked for, the help follows standard output away from the console.
        {{u"-c?"}, 6, HELP, "", {}},
        // ----- -A -----
        {{u"-AdhmrseXz"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.attr_filter, 1);
             EXPECT_EQ(r.s.directories, 1);
             EXPECT_EQ(r.s.attr_hidden, 1);
             EXPECT_EQ(r.s.attr_archive, 1);
             EXPECT_EQ(r.s.attr_readonly, 1);
             EXPECT_EQ(r.s.attr_system, 1);
             EXPECT_EQ(r.s.attr_encrypted, 1);
             EXPECT_EQ(r.s.ZULU, 0);  // the letters after A are its own
         }},
        {{u"-ADHMRSE"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.directories, 2);
             EXPECT_EQ(r.s.attr_hidden + r.s.attr_archive + r.s.attr_readonly +
                           r.s.attr_system + r.s.attr_encrypted,
                       5);
         }},
        {{u"-AdD"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.directories, 3); }},
        {{u"-A"}, 6, "", "\n-A option needs a modifier [rhms]\n", {}},
        {{u"-cA"}, 6, "", "\n-A option needs a modifier [rhms]\n", {}},
        // ----- -a -b -----
        {{u"-a"}, parsed, "", "", [](R r) { EXPECT_TRUE(r.s.APPEND); }},
        {{u"-a", u"+a"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.APPEND, 0); }},
        {{u"-b"}, parsed, "", "",
         [](R r) { EXPECT_EQ(r.s.DISPLACE, 512); }},
        // ----- -C -----
        {{u"-C", u"COMPUTERNAME=32"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.COMMENT, 1);
             EXPECT_EQ(text_of(r.s.comment_text), "COMPUTERNAME");
         }},
        {{u"-Ccomputername32"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.comment_text), "computername"); }},
        {{u"-C", u"COMPUTERNAME"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.comment_text), "COMPUTERNAME"); }},
        {{u"-C", u"abc=10"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.comment_text), "abc"); }},
        {{u"-C", u"abc="}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.comment_text), "abc="); }},
        {{u"-C", u"two words"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.comment_text), "two words"); }},
        {{u"-C"}, 6, "", HELP, {}},
        {{u"-C", u"-c"}, 6, "", HELP, {}},
        // ----- -c -D -----
        {{u"-c"}, parsed, "", "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::crc)); }},
        {{u"-D", u"100,50"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.DISPLACE, 99);
             EXPECT_EQ(r.s.displace_end, 149);
         }},
        {{u"-D100,200o"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.DISPLACE, 99);
             EXPECT_EQ(r.s.displace_end, 200);
         }},
        {{u"-D", u"1"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.DISPLACE, 0);
             EXPECT_EQ(r.s.displace_end, 0);
         }},
        {{u"-D", u"5:10"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.DISPLACE, 4);
             EXPECT_EQ(r.s.displace_end, 14);
         }},
        {{u"-D", u"7;3c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.DISPLACE, 6);
             EXPECT_EQ(r.s.displace_end, 9);
         }},
        {{u"-D", u"10.20O"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.DISPLACE, 9);
             EXPECT_EQ(r.s.displace_end, 20);
         }},
        {{u"-D", u"0"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.DISPLACE, 0); }},
        {{u"-D", u"9223372036854775807,9223372036854775807"}, parsed, "", "",
         [](R r) { EXPECT_EQ(r.s.displace_end, INT64_MAX); }},
        {{u"-D", u"-5"}, 6, "", "", {}},
        {{u"-D"}, 6, "", "", {}},
        // ----- -d -----
        {{u"-d", u";"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.DELIM, 1);
             EXPECT_EQ(r.s.delimiter, ';');
         }},
        {{u"-d=,"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.delimiter, ','); }},
        {{u"-d", u"59"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.delimiter, ';'); }},
        {{u"-d9"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.delimiter, '9'); }},
        {{u"-V", u"-d", u";"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.delimiter, ';'); }},
        {{u"-V"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.VAR, 1);
             EXPECT_EQ(r.s.DELIM, 1);
             EXPECT_EQ(r.s.delimiter, '|');
         }},
        {{u"-d", u"-"}, 6, "", "", {}},
        {{u"-d"}, 6, "", "", {}},
        {{u"-d="}, 6, "", "", {}},
        // ----- -E -e -----
        {{u"-e", u"copy % D:\\x"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.execute, 1);
             EXPECT_EQ(r.s.execute_cd, 0);
             EXPECT_EQ(text_of(r.s.command_text), "copy % D:\\x");
         }},
        {{u"-EP", u"type"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.execute, 2);
             EXPECT_EQ(r.s.execute_cd, 1);
             EXPECT_EQ(text_of(r.s.command_text), "type % ");
         }},
        {{u"-e", u"-c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(text_of(r.s.command_text), "-c % ");
             EXPECT_FALSE(r.s.digests.has(DigestId::crc));
         }},
        {{u"-e"}, 6, "", "-[eE] option requres a command to follow it\n", {}},
        // ----- -F -f -----
        {{u"-F"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.fixed, 1); }},
        {{u"-f", u"*.txt", u"*.c", u"*.txt"}, parsed, "", "",
         [](R r) { EXPECT_EQ(joined(r.s.filetype_list), "*.txt|*.c|"); }},
        {{u"-f", u"*.c", u"-r"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(joined(r.s.filetype_list), "*.c|");
             EXPECT_EQ(r.s.RECURSE, 0);
         }},
        {{u"-f", u"*.c", u"/r"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(joined(r.s.filetype_list), "*.c|");
             EXPECT_EQ(r.s.RECURSE, 0);
         }},
        {{u"-f", u"*.c", u"d:\\x"}, 6, "", "Can't have a \\ in the file type option\n", {}},
        {{u"-f"}, parsed, "", "", [](R r) { EXPECT_EQ(joined(r.s.filetype_list), "*.*|"); }},
        // ----- -G -g -----
        {{u"-G", u"100"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.GREATER, 1);
             EXPECT_EQ(r.s.size_greater, 100);
         }},
        {{u"+G100"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.size_greater, 100); }},
        // A size beyond any file's is refused, not quietly lowered.
        {{u"-G", u"99999999999999999999999"}, 6, "\n\nCheck your option -G format. \n", "", {}},
        {{u"-G", u"2023-01-01"},
         6,
         "\n\nCheck your option -G format. \n"
         "You included a seperator which only pertains to date formats in options\n",
         "",
         {}},
        {{u"-G1/2"}, 6, "\n\nCheck your option -G format. \n", "", {}},
        {{u"-G", u"-5"}, 6, "", "", {}},
        {{u"-G"}, 6, "", "", {}},
        {{u"-g", u"30", u"-c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.aging, 1);
             EXPECT_EQ(r.s.OLDER, 1);
             EXPECT_EQ(r.s.NEWER, 0);
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
         }},
        {{u"-g=30c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.OLDER, 1);
             EXPECT_EQ(r.s.older_days, 30);
             EXPECT_EQ(r.s.older_kind, 'c');
             EXPECT_EQ(r.s.date_kinds[2], '0');
         }},
        {{u"-g", u"2023-01-01a"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.older_kind, 'a');
             EXPECT_EQ(r.s.date_kinds[2], 'a');
             EXPECT_EQ(r.s.older_date.year, 2023);
             EXPECT_EQ(r.s.older_date.month, 1);
             EXPECT_EQ(r.s.older_date.day, 1);
             EXPECT_EQ(r.s.older_days, 378);  // 2023-01-01 to 2024-01-14
         }},
        {{u"-g", u"20230101"}, 6,
         "\n It appears your syntact for aging is incorrect\n\a"
         " You probably forgot to include seperators 2023-01-01\n"
         " For this syntax: --younger=20230101 you need dividers  --younger=2023-01-01\n",
         "", {}},
        {{u"-g"}, 6, "", HELP, {}},
        // ----- -H -h -----
        {{u"-h", u"sig.txt"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.signature_check, signature_minus);
             EXPECT_EQ(r.s.header_only, 0);
             EXPECT_EQ(text_of(r.s.header_file), "C:\\work\\sig.txt");
         }},
        {{u"+h", u"sig.txt"}, parsed, "", "",
         [](R r) { EXPECT_EQ(r.s.signature_check, signature_plus); }},
        {{u"-HD:\\sig.txt"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.signature_check, signature_minus);
             EXPECT_EQ(r.s.header_only, 1);
             EXPECT_EQ(text_of(r.s.header_file), "D:\\sig.txt");
         }},
        {{u"+H", u"s"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.signature_check, signature_plus);
             EXPECT_EQ(r.s.header_only, 1);
         }},
        {{u"-h"}, 6, "", "", {}},
        // ----- -I -----
        {{u"-I", u"MYDISK"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.label, 1);
             EXPECT_EQ(r.s.label_text, "MYDISK");
         }},
        {{u"-IABCDEFGHIJKLMNOP"}, parsed, "", "",
         [](R r) { EXPECT_EQ(r.s.label_text, "ABCDEFGHIJKL"); }},
        {{u"-I"}, 6, "", "\n\n\nYou didn't provide a label \a\n", {}},
        {{u"-I", u"-c"}, 6, "", "\n\n\nYou didn't provide a label \a\n", {}},
        {{u"-I", u"/x"}, 6, "", "\n\n\nYou didn't provide a label \a\n", {}},
        {{u"-I", u""}, 6, "", "\n\n\nYou didn't provide a label \a\n", {}},
        // ----- -L -l -----
        {{u"-L", u"2048"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.LESSTHAN, 1);
             EXPECT_EQ(r.s.size_less, 2048);
         }},
        {{u"-L", u"-1"}, 6, "", "", {}},
        {{u"-L"}, 6, "", "", {}},
        {{u"-l", u"5"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.aging, 1);
             EXPECT_EQ(r.s.NEWER, 1);
             EXPECT_EQ(r.s.OLDER, 0);
             EXPECT_EQ(r.s.newer_days, 5);
             EXPECT_EQ(r.s.date_kinds[3], 'w');
         }},
        {{u"-l12-01-2005"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.newer_date.month, 12);
             EXPECT_EQ(r.s.newer_date.day, 1);
             EXPECT_EQ(r.s.newer_date.year, 2005);
             EXPECT_EQ(r.s.date_kinds[1], 'w');
         }},
        {{u"-l", u"01-01-05"}, parsed, "", "",
         [](R r) { EXPECT_EQ(r.s.newer_date.year, 2005); }},
        {{u"-l"}, 6, "", HELP, {}},
        // ----- -M -m -N -n -----
        {{u"-M"}, parsed, "", "",
         [](R r) { EXPECT_TRUE(flag_differences(r.s, parsed_defaults()).empty()); }},
        {{u"-m"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.TIME, 1); }},
        {{u"-mm"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.TIME, 0); }},
        {{u"-m", u"+m"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.TIME, 1); }},
        {{u"-N"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.PPATHONLY, 1);
             EXPECT_EQ(r.s.NAMEONLY, 1);
         }},
        {{u"-NN"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.PPATHONLY, 0);
             EXPECT_EQ(r.s.NAMEONLY, 1);
         }},
        {{u"-N", u"+N"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.PPATHONLY, 0); }},
        {{u"-n"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.NAMEONLY, 1); }},
        {{u"-nn"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.NAMEONLY, 0); }},
        {{u"-n", u"+n"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.NAMEONLY, 0); }},
        // ----- -O -o -----
        {{u"-o", u"out.txt"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.OUTPUT, ListingOutput::file);
             EXPECT_EQ(r.s.APPEND, 0);
             EXPECT_EQ(text_of(r.s.output_name), "C:\\work\\out.txt");
         }},
        {{u"-OD:\\lists\\all.txt"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.OUTPUT, ListingOutput::file);
             EXPECT_EQ(r.s.APPEND, 1);
         }},
        {{u"-o", u"stdout"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.OUTPUT, ListingOutput::standard_output);
             EXPECT_EQ(r.s.APPEND, 0);
         }},
        {{u"-O", u"StdOut"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.OUTPUT, ListingOutput::standard_output);
             EXPECT_EQ(r.s.APPEND, 0);
         }},
        {{u"-O", u"x", u"+o"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.OUTPUT, ListingOutput::console);
             EXPECT_EQ(r.s.APPEND, 0);
         }},
        {{u"-o", u"YYMMDD"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.output_name), "C:\\work\\240114"); }},
        {{u"-o", u"C:\\x\\COMPUTERNAME_YYYY.lst"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.output_name), "C:\\x\\EXAMINER-PC2024.lst"); }},
        {{u"-o", u"out_YYYYMMDD.txt"}, parsed, "", "",
         [](R r) { EXPECT_EQ(text_of(r.s.output_name), "C:\\work\\out_YYYYMMDD.txt"); }},
        {{u"-o", u"-x"}, 6, "", "", {}},
        {{u"-o"}, 6, "", "", {}},
        // ----- -P -p -q -----
        {{u"-P"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.PAUSE, 1); }},
        {{u"-PP"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.PAUSE, 0); }},
        {{u"-r", u"-p", u"C:\\a", u"C:\\b", u"-c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(joined(r.s.root_list), "\\\\?\\C:\\a|\\\\?\\C:\\b|");
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
             EXPECT_EQ(r.s.RECURSE, 0);
         }},
        {{u"-p", u"C:\\a\\*.log", u"+c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(joined(r.s.root_list), "\\\\?\\C:\\a|");
             EXPECT_EQ(joined(r.s.filetype_list), "*.log|");
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
         }},
        {{u"-q"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.attr_filter, 1); }},
        {{u"-qc"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.attr_filter, 1);
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
         }},
        {{u"-q-HRSc", u"+q+0nae"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.attr_filter, 1);
             EXPECT_FALSE(r.s.digests.has(DigestId::crc));
             EXPECT_EQ(r.s.attr_hidden, 0);
         }},
        // ----- -R -r -S -s -----
        {{u"-R"}, parsed,
         "\n\n   No hashing options were chosen, so options RESET, -R is set to 0\n"
         "   To FORCE reset use dual option: -R  -R\n\n",
         "", [](R r) { EXPECT_EQ(r.s.RESET, 0); }},
        {{u"-R", u"-R"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.RESET, 2); }},
        {{u"-Rc"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.RESET, 1); }},
        {{u"-RR", u"+R"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.RESET, 0); }},
        {{u"-RR", u"-c+R"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.RESET, 0);
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
         }},
        {{u"-r"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.RECURSE, 0); }},
        {{u"-r", u"+r"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.RECURSE, 1); }},
        {{u"-S"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.STREAM, 0); }},
        {{u"-S", u"+S"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.STREAM, 1); }},
        {{u"-s"}, parsed, "", "", [](R r) { EXPECT_TRUE(r.s.digests.has(DigestId::sha1)); }},
        // ----- -T -t -----
        {{u"-tWr"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.TIME, 1);
             EXPECT_EQ(r.s.time_type, 'w');
             EXPECT_EQ(r.s.seconds, 1);
             EXPECT_EQ(r.s.RECURSE, 0);
         }},
        {{u"-t", u"a", u"-c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.time_type, 'a');
             EXPECT_EQ(r.s.seconds, 0);
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
         }},
        {{u"-TC"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.REVERSE, 1);
             EXPECT_EQ(r.s.time_type, 'c');
             EXPECT_EQ(r.s.seconds, 1);
         }},
        {{u"-t3"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.time_type, '3');
             EXPECT_EQ(r.s.REVERSE, 0);
         }},
        {{u"-z", u"-t0"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.TIME, 0);
             EXPECT_EQ(r.s.ZULU, 0);
             EXPECT_EQ(r.s.time_type, '0');
         }},
        {{u"-tw", u"+t"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.TIME, 0); }},
        {{u"-tC", u"+tc"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.TIME, 0);
             EXPECT_EQ(r.s.time_type, 'w');
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));  // the c is an option of its own
         }},
        {{u"+T"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.REVERSE, 1); }},
        {{u"-t"}, 6, "", "", {}},
        {{u"-t", u""}, 6, "", "", {}},
        // ----- -U -u -----
        {{u"-U", u"bob"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.owner, 3);
             EXPECT_EQ(r.s.owner_name, "bob");
         }},
        {{u"-UDOMAIN\\ann"}, parsed, "", "",
         [](R r) { EXPECT_EQ(r.s.owner_name, "DOMAIN\\ann"); }},
        {{u"-U"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.owner, 1);
             EXPECT_EQ(r.s.owner_name, "");
         }},
        {{u"-U", u"-c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.owner, 1);
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
         }},
        {{u"-u", u"-u"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.owner, 2); }},
        // ----- -v -----
        {{u"-vv"}, parsed, "\nno logfile option (-1) found. Auto logfile created\n", "",
         [](R r) {
             EXPECT_EQ(r.s.SILENT, 2);
             EXPECT_EQ(r.s.ACCT, 1);
         }},
        // ----- -W -w -----
        {{u"-w80r"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.WIDTH, 80);
             EXPECT_EQ(r.s.width_set, 1);
             EXPECT_EQ(r.s.RECURSE, 1);
         }},
        {{u"-V", u"-W", u"100"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.WIDTH, 100);
             EXPECT_EQ(r.s.width_set, 2);
             EXPECT_EQ(r.s.VAR, 0);
         }},
        {{u"-w=70", u"-w0"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.WIDTH, 0);
             EXPECT_EQ(r.s.width_set, 2);
         }},
        {{u"-V", u"+w"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.WIDTH, 54);
             EXPECT_EQ(r.s.width_set, 1);
             EXPECT_EQ(r.s.VAR, 0);
         }},
        {{u"-w", u"-5"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.WIDTH, 0); }},
        {{u"-w", u"4000000000"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.WIDTH, 32768); }},
        {{u"-w"}, 6, "", "", {}},
        {{u"-W="}, 6, "", "", {}},
        // ----- -x -----
        {{u"-x", u"*.tmp", u"b*"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.EXCLUDE, 1);
             EXPECT_EQ(joined(r.s.exclude_list), "*.TMP|B*|");
         }},
        {{u"-x", u"a", u"-x", u"b", u"/c"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(joined(r.s.exclude_list), "B|");
             EXPECT_TRUE(r.s.digests.has(DigestId::crc));
         }},
        // ----- -Y -y -----
        {{u"-yNc"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.SORT, 1);
             EXPECT_EQ(r.s.sort_keys[0], 'N');
             EXPECT_EQ(r.s.sort_dirs[0], -1);
             EXPECT_EQ(r.s.sort_keys[1], 'c');
             EXPECT_EQ(r.s.sort_dirs[1], 1);
             EXPECT_EQ(r.s.sort_keys[2], 999);
         }},
        {{u"-y", u"a", u"-YB"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.sort_keys[0], 'a');
             EXPECT_EQ(r.s.sort_keys[1], 'B');
             EXPECT_EQ(r.s.sort_dirs[1], -1);
             EXPECT_EQ(r.s.sort_keys[2], 999);
         }},
        {{u"-yab0cd"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.sort_keys[1], 'b');
             EXPECT_EQ(r.s.sort_keys[2], 999);
         }},
        {{u"-yabcdefghijkl", u"-y", u"mn"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.sort_keys[8], 'i');
             EXPECT_EQ(r.s.sort_keys[9], 999);
             EXPECT_EQ(r.s.sort_keys_given, 9u);
         }},
        {{u"-y"}, 6, "", "", {}},
        {{u"-y", u"-a"}, 6, "", "", {}},
        // ----- -Z -z -----
        {{u"-z"}, parsed, "", "",
         [](R r) {
             EXPECT_EQ(r.s.ZULU, 1);
             EXPECT_EQ(r.s.TIME, 1);
             EXPECT_EQ(r.s.time_type, 'w');
         }},
        {{u"-Z"}, parsed, "", "", [](R r) { EXPECT_EQ(r.s.ZULU, 1); }},
    };
    return rows;
}

std::string describe(const Args& args) {
    std::string text;
    for (const auto& a : args) text += " [" + text_of(a) + "]";
    return text;
}

TEST(CommandLine, EveryOptionRow) {
    const std::string help = help_text();
    for (const Row& row : option_rows()) {
        SCOPED_TRACE(describe(row.args));
        // The actions are performed as the driver does, so that the rows
        // see the logs and files they open.
        Parse p;
        p.perform_actions = true;
        p.go(row.args, [](MemoryPlatform& mp, filarix::Run&) {
            mp.add_dir(u"C:\\a");
            mp.add_dir(u"C:\\b");
            mp.add_dir(u"C:\\data");
            // The header files the -h rows name are loaded as they are read.
            mp.add_volume(u"D:\\");
            for (const char16_t* table : {u"C:\\work\\sig.txt", u"C:\\work\\s", u"D:\\sig.txt"})
                mp.add_file(table, "Windows program,EXE,MZ\n");
        });
        EXPECT_EQ(p.code, row.code);
        // Without a keyboard the help is written whole and the run ends in order.
        EXPECT_FALSE(p.process_exit);
        const std::string& out = row.out == HELP ? help : row.out;
        EXPECT_EQ(p.out.substr(0, out.size()), out);
        const std::string& err = row.err == HELP ? help : row.err;
        EXPECT_EQ(p.err.substr(0, err.size()), err);
        if (row.check) row.check(*p.run);
    }
}

TEST(CommandLine, IllegalLetterPausesTwoSeconds) {
    Parse p;
    p.go({u"-cKs"});
    EXPECT_EQ(paused_ms(*p.run), 2000u);
    EXPECT_EQ(p.mp.slept_ms, 0u);  // the source only asks; the driver waits
    Parse q;
    q.go({u"--nosuchword"});
    EXPECT_EQ(paused_ms(*q.run), 3000u);
}

TEST(CommandLine, NoticeAndExcludeDashEndTheProcessAtOnce) {
    Parse p;
    p.go({u"-c@"});
    EXPECT_EQ(p.code, 6);
    EXPECT_TRUE(p.process_exit);
    EXPECT_NE(p.out.find("Permission is hereby granted"), std::string::npos);
    EXPECT_EQ(p.err, "");  // no summary

    Parse q;
    q.perform_actions = true;
    q.go({u"-x", u"-r"});
    EXPECT_EQ(q.code, 6);
    EXPECT_TRUE(q.process_exit);
    EXPECT_EQ(q.err, help_text());

    // On its own the source only asks for the help, and writes none of it.
    Parse r;
    r.go({u"-x", u"-r"});
    EXPECT_EQ(r.code, 6);
    EXPECT_TRUE(r.process_exit);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.run->parse_actions.list.size(), 1u);
    const auto* help = std::get_if<ShowHelpAction>(&r.run->parse_actions.list[0]);
    ASSERT_TRUE(help);
    EXPECT_FALSE(help->asked);
}

TEST(CommandLine, EightyExcludeMasksAreTheMost) {
    Args args{u"-x"};
    for (int i = 1; i <= 80; ++i) args.push_back(u"*.E" + platform::widen(std::to_string(i)));
    Parse p;
    p.go(args);
    EXPECT_EQ(p.code, parsed);
    ASSERT_EQ(p.run->s.exclude_list.size(), 80u);
    EXPECT_EQ(text_of(p.run->s.exclude_list.back()), "*.E80");

    args.push_back(u"*.E81");
    Parse q;
    q.go(args);
    EXPECT_EQ(q.code, 6);
    const std::string message =
        "\nYou have too many -eXclude file types.\nMax exclude types is 80\n";
    EXPECT_EQ(q.out.substr(0, message.size()), message);
}

TEST(CommandLine, EveryExcludeMaskTakesPartInMatching) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\a.E1", "1");
    mp.add_file(u"C:\\work\\a.E79", "79");
    mp.add_file(u"C:\\work\\a.E80", "80");
    mp.add_file(u"C:\\work\\keep.txt", "k");
    Args args{u"C:\\work", u"-x"};
    for (int i = 1; i <= 80; ++i) args.push_back(u"*.e" + platform::widen(std::to_string(i)));
    const auto result = run_in_memory(mp, args);
    EXPECT_EQ(result.code, 1);
    const auto lines = listing_lines(result.err);
    ASSERT_EQ(lines.size(), 1u) << result.err;
    EXPECT_NE(lines[0].find("keep.txt"), std::string::npos);
}

TEST(CommandLine, AccountingFileOverriddenOrClosed) {
    const auto with_open_log = [](MemoryPlatform& mp, filarix::Run& run) {
        run.log = std::make_unique<OutStream>(
            mp.open_text(u"C:\\work\\env.log", platform::OpenMode::append));
    };
    Parse p;
    p.perform_actions = true;
    p.go({u"-1", u"new.log"}, with_open_log);
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(p.mp.contents(u"C:\\work\\env.log"),
              "This file closed.\n"
              "Accounting file overridden by option -1 file pointing to C:\\work\\new.log\n");

    Parse q;
    q.perform_actions = true;
    q.go({u"+1"}, with_open_log);
    EXPECT_EQ(q.code, parsed);
    EXPECT_EQ(q.run->s.ACCT, 0);
    EXPECT_EQ(q.run->log, nullptr);
    EXPECT_EQ(q.mp.contents(u"C:\\work\\env.log"), "");
}

TEST(CommandLine, POSIXSlashIsAPathAndTheMaskSeparatorIsRefused) {
    struct PosixMemory : MemoryPlatform {
        const platform::PathSyntax& syntax() const override {
            return platform::PathSyntax::posix();
        }
    };
    PosixMemory mp;
    filarix::Run run(mp);
    give_sources_lookups(run);
    run.args = {u"/bin/filarix64", u"-f", u"*.c", u"/tmp/x.c"};
    apply_start_up_defaults(run.s);
    try {
        parse_settings(run);
        ADD_FAILURE() << "a mask holding the separator was taken";
    } catch (const RunEnded& ended) {
        EXPECT_EQ(ended.reason, 6);
    }
    run.std_err.flush();
    const std::string message = "Can't have a / in the file type option\n";
    EXPECT_EQ(mp.err_text.substr(0, message.size()), message);
}

// ----- the DISKLABL counter -----

TEST(DiskLabel, FollowingLabels) {
    const struct {
        const char* stored;
        const char* next;
    } cases[] = {
        {"ABC0099", "ABC00100"},
        {"41", "42"},
        {"", "1"},
        {"ABC000", "ABC0001"},
        {"X9", "X10"},
        {"99999999999", "100000000000"},
        {"1000\r\n", "1001"},
        {"AB-07", "AB-08"},
        {"ABCDEFGHIJK99", "ABCDEFGHIJK100"},
        {"A0000000009", "A0000000010"},
        {"AB-00000999", "AB-00001000"},
        {"A00000000012", "A0000000013"},
    };
    for (const auto& c : cases) EXPECT_EQ(following_label(c.stored), c.next) << c.stored;
}

TEST(DiskLabel, TheSourceOnlyAsksForTheNextLabel) {
    Parse p;
    p.go({u"-i"});
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(p.run->s.label, 1);
    EXPECT_EQ(p.run->s.label_text, "");
    EXPECT_FALSE(p.mp.exists(u"C:\\work\\DISKLABL"));
    ASSERT_EQ(p.run->parse_actions.list.size(), 1u);
    const auto* next = std::get_if<NextLabelAction>(&p.run->parse_actions.list.front());
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->kept, 12u);
}

TEST(DiskLabel, CounterFileCreatedThenCounted) {
    Parse p;
    p.perform_actions = true;
    p.go({u"-i"});
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(p.run->s.label, 1);
    EXPECT_EQ(p.run->s.label_text, "1000");
    EXPECT_EQ(p.mp.contents(u"C:\\work\\DISKLABL"), "1000");

    filarix::Run again(p.mp);
    EXPECT_EQ(next_disk_label(again.sys, again.std_err), "1001");
    EXPECT_EQ(p.mp.contents(u"C:\\work\\DISKLABL"), "1001");

    Parse q;
    q.perform_actions = true;
    q.go({u"-i"},
         [](MemoryPlatform& mp, filarix::Run&) { mp.add_file(u"C:\\work\\DISKLABL", "ABC0099"); });
    EXPECT_EQ(q.run->s.label_text, "ABC00100");
    EXPECT_EQ(q.mp.contents(u"C:\\work\\DISKLABL"), "ABC00100");

    Parse r;
    r.perform_actions = true;
    r.go({u"-i"},
         [](MemoryPlatform& mp, filarix::Run&) { mp.add_file(u"C:\\work\\DISKLABL", "1000\r\n"); });
    EXPECT_EQ(r.mp.contents(u"C:\\work\\DISKLABL"), "1001");
}

TEST(DiskLabel, ReadOnlyCounterStillGivesTheNextLabelAndSaysSo) {
    Parse p;
    p.perform_actions = true;
    p.go({u"-i"}, [](MemoryPlatform& mp, filarix::Run&) {
        mp.add_file(u"C:\\work\\DISKLABL", "VOL7", {.protect = true});
    });
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(p.run->s.label_text, "VOL8");
    EXPECT_EQ(p.mp.contents(u"C:\\work\\DISKLABL"), "VOL7");
    EXPECT_NE(p.err.find("Can't store the next label in C:\\work\\DISKLABL"), std::string::npos);
}

// ----- random command lines through whole runs -----

TEST(CommandLine, RandomCommandLinesEndInOrder) {
    static const char16_t* const pieces[] = {
        u"-",
        u"+",
        u"/",
        u"--",
        u"-.ini",
        u"",
        u"data",
        u"-c",
        u"-5s",
        u"-rcs",
        u"+R",
        u"-c+R",
        u"-8",
        u"-88",
        u"-8830e",
        u"-8E",
        u"-9",
        u"-A",
        u"-Adhs",
        u"-a",
        u"+a",
        u"-b",
        u"-C",
        u"abc=1",
        u"-D",
        u"100,50o",
        u"-d",
        u"-d=;",
        u"-e",
        u"echo %",
        u"-EP",
        u"-F",
        u"-f",
        u"*.txt",
        u"a\\b",
        u"-G",
        u"2023-01-01",
        u"-g",
        u"30",
        u"-l",
        u"-H",
        u"-h",
        u"-I",
        u"LBL",
        u"-i",
        u"-L",
        u"-M",
        u"-m",
        u"+m",
        u"-N",
        u"-n",
        u"-o",
        u"out.txt",
        u"stdout",
        u"-O",
        u"+o",
        u"-P",
        u"-p",
        u"C:\\work",
        u"-q",
        u"-q-HR",
        u"-R",
        u"-r",
        u"-S",
        u"-s",
        u"-t",
        u"-tWr",
        u"-T3",
        u"+t",
        u"-U",
        u"-u",
        u"-V",
        u"-v",
        u"-w",
        u"-w80r",
        u"+W",
        u"-X",
        u"-x",
        u"*.TMP",
        u"-y",
        u"nN",
        u"-Yabcdefghijklm",
        u"-z",
        u"-Z",
        u"-K",
        u"-?",
        u"-@",
        u"--zulu",
        u"/c",
        u"-1",
        u"acct.log",
        u"+1",
        u"-99999999999999999999",
        u"-w-5",
        u"-G0",
        u"-1-",
        u"-W=",
        u"-d-",
        u"-o-",
        u"-Ifirst",
        u"-U-",
        u"-D-1",
        u"-e-",
        u"-y0",
    };
    constexpr std::size_t piece_count = sizeof pieces / sizeof pieces[0];
    std::mt19937 random(20240114);
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\a.txt", "alpha");
    mp.add_file(u"C:\\work\\sub\\b.dat", "bravo bravo");
    for (int round = 0; round < 3000; ++round) {
        Args args;
        const int count = static_cast<int>(random() % 7);
        for (int n = 0; n < count; ++n) {
            const std::size_t pick = random() % (piece_count + 3);
            if (pick < piece_count) {
                args.emplace_back(pieces[pick]);
            } else if (pick == piece_count) {
                std::u16string long_one(1 + random() % 300, u'w');
                long_one[0] = u'-';
                args.push_back(long_one);
            } else if (pick == piece_count + 1) {
                args.push_back(platform::widen(std::to_string(random())));
            } else {
                std::u16string letters = u"-";
                for (int k = static_cast<int>(random() % 5); k >= 0; --k)
                    letters.push_back(static_cast<char16_t>(u'!' + random() % 94));
                args.push_back(letters);
            }
        }
        SCOPED_TRACE(describe(args));
        const auto result = run_in_memory(mp, args);
        ASSERT_GE(result.code, 0);
        ASSERT_LE(result.code, 13);
        mp.remove(u"C:\\work\\DISKLABL");
    }
}

}  // namespace

// Start paths are told apart by the lookups alone: what is there and what
// is a directory, with no file system behind them.
TEST(CommandLine, StartPathsByTheLookupsAlone) {
    Parse p;
    p.go({u"data", u"gone", u"data\\*.txt"}, [](MemoryPlatform&, filarix::Run& run) {
        auto& lookups = run.parse_actions.lookups;
        // A full path stays as it is.
        lookups.full_path = [](std::u16string_view name) {
            const std::u16string given(name);
            return std::optional<std::u16string>(given.starts_with(u"Q:") ? given
                                                                          : u"Q:\\" + given);
        };
        lookups.exists = [](std::u16string_view path) { return path == u"Q:\\data"; };
        lookups.is_directory = [](std::u16string_view path) { return path == u"Q:\\data"; };
    });
    EXPECT_EQ(p.code, parsed);
    EXPECT_EQ(joined(p.run->s.root_list), "\\\\?\\Q:\\data|");
    EXPECT_EQ(p.run->missing_start_paths, 1u);
    EXPECT_EQ(p.err, "\nCannot find/open gone\n");
    EXPECT_EQ(joined(p.run->s.filetype_list), "*.txt|");
}
