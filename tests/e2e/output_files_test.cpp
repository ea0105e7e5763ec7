// End-to-end: the listing written to a file (new and appended) with its
// header line, volume columns and summary, and the accounting log with one
// block per run.
#include <sys/sysmacros.h>

#include <regex>

#include "e2e_support.hpp"

namespace {

using e2e::read_file;

using e2e::run;
using e2e::TempTree;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    if (at < text.size()) lines.push_back(text.substr(at));
    return lines;
}

// The column titles of the default layout of a listing file.
std::string default_header() {
    char text[256];
    std::snprintf(text, sizeof text, "%-54.54s  %20s  ATTR   %-10s %5s  TZ %11.11s %12.12s \n",
                  "  PATH", "  SIZE", "   MDATE", " MTIME", "  SERIAL #", " DISK LABEL ");
    return text;
}

// A default record of a listing file: the console record followed by the
// volume serial and the volume label columns.
const std::regex kFileRecord(R"((.{54})  +(\d+) (A.....)\. (\d\d/\d\d/\d{4} \d\d:\d\d)w UTC )"
                             R"((  [0-9A-F]{4}-[0-9A-F]{4}|  \*UNKNOWN\*) (.{12}) )");

TEST(OutputFile, ListingFileHoldsHeaderRecordsAndSummary) {
    TempTree t;
    t.file("tree/a.txt", "alpha");
    t.file("tree/sub/b.txt", "bb");
    const std::string work = t.dir("work");
    const auto result = run({t.path("tree"), "-o", "list.txt"}, work);
    EXPECT_EQ(result.status, 1) << result.err;
    const std::string listing = read_file(work + "/list.txt");
    // The start banner with the command line, then the column titles.
    const std::string banner_end = " -o list.txt \n\n";
    const std::size_t header_at = listing.find(banner_end + default_header());
    ASSERT_NE(header_at, std::string::npos) << listing;
    EXPECT_EQ(listing.rfind("\nStarted ", 0), 0u) << listing;
    EXPECT_NE(listing.find("\nCOMMAND LINE:  "), std::string::npos) << listing;

    const auto lines =
        lines_of(listing.substr(header_at + banner_end.size() + default_header().size()));
    std::vector<std::string> names;
    std::string serial;
    for (const auto& line : lines) {
        std::smatch m;
        if (!std::regex_match(line, m, kFileRecord)) continue;
        EXPECT_EQ(line.size(), 132u) << line;
        std::string name = m[1].str().substr(m[1].str().rfind('/') + 1);
        name.erase(name.find_last_not_of(' ') + 1);
        names.push_back(name);
        if (serial.empty()) serial = m[5];
        EXPECT_EQ(m[5], serial) << "one start path, one volume";
    }
    EXPECT_EQ(names, (std::vector<std::string>{"b.txt", "a.txt"}));
    // The two records come first, then the summary after an empty line.
    ASSERT_GE(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[1], kFileRecord)) << lines[1];
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "  1 directory, 2 files, 7 bytes: ");
    // The records came before the listing summary, which ends the file.
    EXPECT_NE(listing.find("  1 directory, 2 files, 7 bytes"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("Exit Status"), std::string::npos);
    // The console keeps its own summary; the records went to the file only.
    EXPECT_EQ(result.err.find("a.txt"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("1 directory, 2 files, 7 bytes"), std::string::npos);
}

TEST(OutputFile, AppendKeepsTheOldListingAndPlainOutputEmptiesIt) {
    TempTree t;
    t.file("tree/a.txt", "alpha");
    const std::string work = t.dir("work");
    ASSERT_EQ(run({t.path("tree"), "-o", "list.txt"}, work).status, 1);
    const std::string first = read_file(work + "/list.txt");
    ASSERT_EQ(run({t.path("tree"), "-o", "list.txt", "-a"}, work).status, 1);
    const std::string both = read_file(work + "/list.txt");
    EXPECT_EQ(both.substr(0, first.size()), first);
    EXPECT_GT(both.size(), first.size() + default_header().size());
    ASSERT_EQ(run({t.path("tree"), "-o", "list.txt"}, work).status, 1);
    EXPECT_EQ(read_file(work + "/list.txt").size(), first.size());
}

// A character device takes the listing or the log as a file would: /dev/null
// discards them, /dev/full fails every write.
TEST(OutputFile, CharacterDevicesTakeTheListingAndTheLog) {
    TempTree t;
    t.file("tree/a.txt", "alpha");
    const struct {
        std::vector<std::string> options;
        int status;
        std::string message;
    } cases[] = {
        {{"-o", "/dev/null"}, 1, ""},
        {{"-1", "/dev/null"}, 1, ""},
        {{"-O", "/dev/null", "-ys"}, 1, ""},  // nothing to read back and sort
        {{"--CSV", "-O", "/dev/null"}, 1, ""},
        {{"-o", "/dev/full"}, 9, "\nError writing the listing to /dev/full\n"},
        {{"-1", "/dev/full"}, 9, "\nError writing the accounting log /dev/full\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{t.path("tree")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        SCOPED_TRACE(c.options[0] + " " + c.options[1]);
        const auto result = run(args, t.root());
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.err.find("can't"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("error opening"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    // A listing split into parts on a device stays on the device: no part
    // files appear beside it.
    const std::string null_device = t.path("work/null");
    t.dir("work");
    ASSERT_EQ(::mknod(null_device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    std::ofstream(t.path("work/filarix64.ini")) << "[FILARIX64]\nSPLIT=1\n";
    t.file("tree/b.txt", "beta");
    EXPECT_EQ(run({t.path("tree"), "-o", null_device}, t.path("work")).status, 1);
    EXPECT_FALSE(std::filesystem::exists(null_device + "_01"));
}

TEST(OutputFile, AccountingLogGetsOneBlockPerRun) {
    TempTree t;
    t.file("tree/a.txt", "alpha");
    const std::string work = t.dir("work");
    const std::string tree = t.path("tree");
    ASSERT_EQ(run({tree, "-1", "log.txt"}, work).status, 1);
    const std::string once = read_file(work + "/log.txt");
    const std::string separator = "\n" + std::string(40, '*') + "\n";
    ASSERT_EQ(once.compare(0, separator.size(), separator), 0) << once;
    // The command line, then the initial directory; no "Started" line when
    // the log was asked for by option.
    const std::string echo = std::string(" ") + FILARIX_BINARY + " " + tree + " -1 log.txt\n";
    EXPECT_EQ(once.compare(separator.size(), echo.size(), echo), 0) << once;
    EXPECT_NE(once.find(" Initial directory: " + tree + "\n"), std::string::npos) << once;
    EXPECT_EQ(once.find("Started"), std::string::npos);
    EXPECT_NE(once.find("\n Number of files processed:         1"), std::string::npos) << once;
    EXPECT_NE(once.find("\n\n  Finished: "), std::string::npos);
    const std::string stars = std::string(53, '*') + "\n";
    ASSERT_GE(once.size(), stars.size());
    EXPECT_EQ(once.substr(once.size() - stars.size()), stars);

    ASSERT_EQ(run({tree, "-1", "log.txt"}, work).status, 1);
    const std::string twice = read_file(work + "/log.txt");
    EXPECT_EQ(twice.substr(0, once.size()), once);
    EXPECT_EQ(twice.compare(once.size(), separator.size(), separator), 0) << twice;
    EXPECT_EQ(twice.substr(twice.size() - stars.size()), stars);
}

}  // namespace
