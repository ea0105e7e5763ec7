// The column header line: which titles each setting brings, byte for byte,
// and when the line is written at all.
#include "record/header_line.hpp"

#include <gtest/gtest.h>

#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

// The titles every header has, with a blank delimiter.
const std::string kPath = "  PATH" + blanks(48) + " ";
const std::string kSizeAttr = " " + blanks(14) + "  SIZE  ATTR   ";
const std::string kWrite = "   MDATE    MTIME ";
const std::string kZone = " TZ ";

std::string header(const std::function<void(filarix::Run&)>& settings) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    apply_start_up_defaults(run.s);
    run.listing_target = ListingTarget::standard_error;
    settings(run);
    EXPECT_EQ(write_header_line(run), 0);
    run.std_err.flush();
    return mp.err_text;
}

TEST(HeaderLine, TitlesFollowTheSettings) {
    const struct {
        const char* what;
        std::function<void(filarix::Run&)> settings;
        std::string expected;
    } cases[] = {
        {"defaults", [](filarix::Run&) {}, kPath + kSizeAttr + kWrite + kZone + "\n"},
        {"SILENT", [](filarix::Run& r) { r.s.SILENT = 1; }, ""},
        {"NAMEONLY",
         [](filarix::Run& r) {
             r.s.NAMEONLY = 1;
             r.s.WIDTH = 20;
         },
         "  NAME" + blanks(14) + " \n"},
        {"PPATHONLY",
         [](filarix::Run& r) {
             r.s.NAMEONLY = 1;
             r.s.PPATHONLY = 1;
         },
         "\n"},
        {"HASH and CRC",
         [](filarix::Run& r) {
             r.s.digests.add(DigestId::md5);
             r.s.digests.add(DigestId::crc);
             r.s.time_type = '0';
         },
         kPath + kSizeAttr + "   MD5 HASH" + blanks(30) + " \n"},
        {"CRC",
         [](filarix::Run& r) {
             r.s.digests = {DigestId::crc, DigestId::sha1};
         },
         kPath + kSizeAttr + "   CRC    " + kWrite + kZone + "\n"},
        {"SHA alone has no title", [](filarix::Run& r) { r.s.digests.add(DigestId::sha1); },
         kPath + kSizeAttr + kWrite + kZone + "\n"},
        {"fixed", [](filarix::Run& r) { r.s.fixed = 1; },
         kPath + kSizeAttr + "     " + blanks(11) + kWrite + kZone + blanks(14) + "\n"},
        {"signature check", [](filarix::Run& r) { r.s.signature_check = signature_plus; },
         kPath + kSizeAttr + " HED " + kWrite + kZone + "\n"},
        {"all three times", [](filarix::Run& r) { r.s.time_type = '3'; },
         kPath + kSizeAttr + "   CDATE    CTIME" + blanks(8) + "   MDATE    MTIME" + blanks(8) +
             "   ADATE    ATIME" + blanks(8) + kZone + "\n"},
        {"creation with seconds",
         [](filarix::Run& r) {
             r.s.time_type = 'C';
             r.s.seconds = 1;
         },
         kPath + kSizeAttr + "   CDATE    CTIME" + blanks(8) + kZone + "\n"},
        {"access", [](filarix::Run& r) { r.s.time_type = 'a'; },
         kPath + kSizeAttr + "   ADATE    ATIME " + kZone + "\n"},
        {"no time", [](filarix::Run& r) { r.s.time_type = '0'; }, kPath + kSizeAttr + "\n"},
        {"output file",
         [](filarix::Run& r) {
             r.s.OUTPUT = ListingOutput::file;
             r.s.time_type = '0';
         },
         kPath + kSizeAttr + "   SERIAL #  DISK LABEL  \n"},
        {"8.3", [](filarix::Run& r) { r.s.eight_dot_three = 1; },
         kPath + kSizeAttr + kWrite + kZone + "   NAME       \n"},
        {"8.3 and EXT",
         [](filarix::Run& r) {
             r.s.eight_dot_three = 1;
             r.s.EXT = 1;
         },
         kPath + kSizeAttr + kWrite + kZone + "   NAME" + blanks(7) + "     EXT \n"},
        {"8.3 and LFN",
         [](filarix::Run& r) {
             r.s.eight_dot_three = 1;
             r.s.LFN = 1;
         },
         kPath + kSizeAttr + kWrite + kZone + "   NAME" + blanks(27) + " \n"},
        {"LFN", [](filarix::Run& r) { r.s.LFN = 1; },
         kPath + kSizeAttr + kWrite + kZone + "   NAME" + blanks(27) + "    EXT \n"},
        {"LFN width 10",
         [](filarix::Run& r) {
             r.s.LFN = 1;
             r.s.lfn_width = 10;
         },
         kPath + kSizeAttr + kWrite + kZone + "   NAME" + blanks(4) + "    EXT \n"},
        {"owner", [](filarix::Run& r) { r.s.owner = 1; },
         kPath + kSizeAttr + kWrite + kZone + " " + blanks(26) + " OWNER \n"},
        {"comment and delimiter",
         [](filarix::Run& r) {
             r.s.COMMENT = 1;
             r.s.comment_text = u"Case 17     ";
             r.s.DELIM = 1;
             r.s.delimiter = '|';
             r.s.WIDTH = 10;
             r.s.time_type = '0';
         },
         "  COMMENT   |  PATH    | " + blanks(14) + "  SIZE| ATTR  |\n"},
        {"comment with a path-only layout",
         [](filarix::Run& r) {
             r.s.COMMENT = 1;
             r.s.comment_text = u"abc";
             r.s.PPATHONLY = 1;
         },
         "  C \n"},
    };
    for (const auto& c : cases) EXPECT_EQ(header(c.settings), c.expected) << c.what;
}

TEST(HeaderLine, OnlyAListingFileGetsOne) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\f.txt", "1");
    mp.add_dir(u"C:\\out");
    const RunResult console = run_in_memory(mp, {u"filarix64", u"C:\\d"});
    EXPECT_EQ(console.err.find("  PATH"), std::string::npos);
    run_in_memory(mp, {u"filarix64", u"C:\\d"}, [](filarix::Run& run) {
        run.s.OUTPUT = ListingOutput::file;
        run.s.output_name = u"C:\\out\\list.txt";
    });
    const std::string text = *mp.contents(u"C:\\out\\list.txt");
    const std::size_t at = text.find("\n  PATH ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(at, text.find("C:\\d\\f.txt"));
    EXPECT_EQ(text.find("  PATH", at + 2), std::string::npos) << "one header line";
}

}  // namespace
