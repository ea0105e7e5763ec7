// The Windows build under Wine: the listing, the options, the listing file,
// the log and the digests, with the records in Windows form, and a field by
// field comparison with the Linux build's listing of the same tree.
#include <sys/xattr.h>

#include <algorithm>
#include <map>
#include <regex>

#include "../support/zip_fixtures.hpp"
#include "wine_support.hpp"

namespace {

using e2e::TempTree;
using wine::run_exe;
using wine::run_linux;
using wine::windows_path;
using Lines = std::vector<std::string>;

const auto* const session = ::testing::AddGlobalTestEnvironment(new wine::Session);

Lines lines_of(const std::string& text) {
    Lines lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    if (at < text.size()) lines.push_back(text.substr(at));
    return lines;
}

// The records of a listing file: the lines that carry a volume serial
// column after the time zone.
struct Record {
    std::string path, size, attributes, when, zone, serial, label;
};
const std::regex kRecord(R"((.{54}) +(\d+) (\S{6})\. (\d\d/\d\d/\d{4} \d\d:\d\d)w (\S+) )"
                         R"( +([0-9A-F]{4}-[0-9A-F]{4}|\*UNKNOWN\*) (.{12}) )");

std::vector<Record> records_of(const std::string& listing) {
    std::vector<Record> records;
    for (const auto& line : lines_of(listing)) {
        std::smatch m;
        if (!std::regex_match(line, m, kRecord)) continue;
        std::string path = m[1];
        path.erase(path.find_last_not_of(' ') + 1);
        records.push_back({path, m[2], m[3], m[4], m[5], m[6], m[7]});
    }
    return records;
}

TEST(Wine, ListsATreeWithWindowsPaths) {
    TempTree t;
    t.file("tree/b.txt", "bravo");
    t.file("tree/A.txt", "a");
    t.file("tree/sub/inner.dat", "", 4096);
    t.dir("tree/emptydir");
    const std::string tree = windows_path(t.path("tree"));
    const auto result = run_exe({tree});
    ASSERT_EQ(result.status, 1) << result.err;
    // The zone column is Wine's name for the zone, abbreviated.
    std::smatch zone;
    ASSERT_TRUE(std::regex_search(result.err, zone, std::regex(R"(03:04w ([A-Z]{1,3}) )")))
        << result.err;
    auto record = [&](const std::string& path, long long size) {
        char text[256];
        std::snprintf(text, sizeof text, "%-54.54s  %20lld A...... %sw %s ", path.c_str(), size,
                      e2e::kStampText, zone[1].str().c_str());
        return std::string(text);
    };
    const Lines expected{record(tree + "\\sub\\inner.dat", 4096), record(tree + "\\A.txt", 1),
                         record(tree + "\\b.txt", 5)};
    Lines listed;
    for (const auto& line : lines_of(result.err))
        if (line.rfind(tree, 0) == 0) listed.push_back(line);
    EXPECT_EQ(listed, expected) << result.err;
    EXPECT_NE(result.err.find("  2 directories, 3 files, 4,102 bytes"), std::string::npos)
        << result.err;
    // Wine keeps no registry value for the last-access setting.
    EXPECT_NE(result.err.find("\"Disable Access Date Key\" Not Found"), std::string::npos)
        << result.err;
}

TEST(Wine, OptionErrorsEndWithTheirReasons) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string text;
    };
    const Case cases[] = {
        {{"-c", "data"}, 6, "\nThere appears to be an extra or eroneous item \"data\"\n"},
        {{"-K"}, 6, "\nIllegal option K\n"},
        {{"-A"}, 6, "\n-A option needs a modifier [rhms]\n"},
        {{"-G", "2023-01-01"}, 6, "You included a seperator"},
        {{"-o", "Z:\\no\\such\\dir\\list.txt"}, 4, "can't create output file"},
    };
    for (const auto& c : cases) {
        const auto result = run_exe(c.args);
        EXPECT_EQ(result.status, c.status) << c.args[0];
        EXPECT_NE((result.out + result.err).find(c.text), std::string::npos)
            << c.args[0] << "\n"
            << result.out << result.err;
    }
}

TEST(Wine, ListingFileAgreesWithTheLinuxBuild) {
    TempTree t;
    t.file("tree/one.txt", "one");
    t.file("tree/sub/two.bin", "", 123456);
    t.file("tree/sub/deeper/three", "3");
    t.file("tree/ro.txt", "read only");
    t.mode("tree/ro.txt", 0444);
    t.file("tree/with space.txt", "spaced");
    t.file("tree/\xC3\xA9\xE2\x82\xAC.txt", "xy");  // "é€.txt"
    const std::string work = t.dir("work");
    ASSERT_EQ(run_linux({t.path("tree"), "-o", "linux.txt"}, work).status, 1);
    const auto result =
        run_exe({windows_path(t.path("tree")), "-o", windows_path(work + "/windows.txt")});
    ASSERT_EQ(result.status, 1) << result.err;
    const auto linux_records = records_of(wine::read_file(work + "/linux.txt"));
    const auto windows_records = records_of(wine::read_windows_text(work + "/windows.txt"));
    ASSERT_EQ(linux_records.size(), 6u);
    ASSERT_EQ(windows_records.size(), linux_records.size());
    for (std::size_t i = 0; i < linux_records.size(); ++i) {
        const Record& l = linux_records[i];
        const Record& w = windows_records[i];
        // The same entry in the same place, its path in Windows form.
        EXPECT_EQ(w.path, windows_path(l.path));
        EXPECT_EQ(w.size, l.size) << l.path;
        EXPECT_EQ(w.attributes, l.attributes) << l.path;
        EXPECT_EQ(w.when, l.when) << l.path;
        EXPECT_TRUE(std::regex_match(w.serial, std::regex("[0-9A-F]{4}-[0-9A-F]{4}"))) << w.serial;
    }
}

TEST(Wine, ListingFileHasItsHeaderAndAppendKeepsTheOldListing) {
    TempTree t;
    t.file("tree/a.txt", "alpha");
    const std::string work = t.dir("work");
    const std::string tree = windows_path(t.path("tree"));
    const std::string list = windows_path(work + "/list.txt");
    ASSERT_EQ(run_exe({tree, "-o", list}).status, 1);
    const std::string first = wine::read_windows_text(work + "/list.txt");
    EXPECT_NE(first.find("\nCOMMAND LINE:  "), std::string::npos) << first;
    EXPECT_NE(first.find("\n  PATH      "), std::string::npos) << first;
    EXPECT_EQ(records_of(first).size(), 1u) << first;
    ASSERT_EQ(run_exe({tree, "-o", list, "-a"}).status, 1);
    const std::string both = wine::read_windows_text(work + "/list.txt");
    EXPECT_EQ(both.substr(0, first.size()), first);
    EXPECT_EQ(records_of(both).size(), 2u) << both;
}

// A CSV listing ends each row with CR LF and keeps a line feed inside a
// name as the name has it, so that the name reads back exact; a JSON line
// escapes it.
TEST(Wine, CsvRowsEndInCrLfAndANameKeepsItsLineFeed) {
    TempTree t;
    t.dir("tree");
    const auto zipped = e2e::run({"-c",
                                  "import zipfile,sys\n"
                                  "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                                  "z.writestr('new\\nline.txt','abc')\nz.close()",
                                  t.path("tree/arc.zip")},
                                 {}, false, {}, std::nullopt, "/usr/bin/python3");
    ASSERT_EQ(zipped.status, 0) << zipped.err;
    const std::string work = t.dir("work");
    const struct {
        const char* format;
        std::string member;
        long line_feeds;
        long carriage_returns;  // one per row
    } cases[] = {
        {"--CSV", "\r\nzip member,\"" + windows_path(t.path("tree/arc.zip")) + ">>new\nline.txt\",",
         4, 3},
        {"--JSONL", ">>new\\nline.txt\",", 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string list = work + "/list" + c.format;
        ASSERT_EQ(run_exe({windows_path(t.path("tree")), c.format, "--ziplog", "-t0", "-o",
                           windows_path(list)})
                      .status,
                  1);
        const std::string listing = wine::read_file(list);
        EXPECT_NE(listing.find(c.member), std::string::npos) << listing;
        EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), c.line_feeds) << listing;
        EXPECT_EQ(std::count(listing.begin(), listing.end(), '\r'), c.carriage_returns) << listing;
        EXPECT_TRUE(listing.ends_with("\r\n")) << listing;
    }
}

TEST(Wine, NoStreamsWhereWineHasNone) {
    // On Linux the extended attribute is a named stream; Wine offers no
    // stream enumeration, so the Windows build lists the file alone.
    TempTree t;
    const std::string file = t.file("tree/tagged.txt", "x");
    ASSERT_EQ(::setxattr(file.c_str(), "user.note", "hello", 5, 0), 0) << file;
    const auto result = run_exe({windows_path(t.path("tree"))});
    ASSERT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.err.find(":note"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("  0 directories, 1 files, 1 bytes"), std::string::npos)
        << result.err;
}

TEST(Wine, StreamsAskedForWithoutTheBackupInterfaceEndNormally) {
    // Wine has no backup reading. With streams asked for, each file is
    // listed without stream lines and the run ends as a normal one; where
    // Wine's volume admits named streams, the failed reading is told once
    // for the whole run (where it does not, nothing is asked or told).
    TempTree t;
    for (const char* name : {"tree/one.txt", "tree/two.txt"}) {
        const std::string file = t.file(name, "x");
        ASSERT_EQ(::setxattr(file.c_str(), "user.note", "hello", 5, 0), 0) << file;
    }
    const std::string tree = windows_path(t.path("tree"));
    for (const char* streams : {"+S", "-S"}) {
        const auto result = run_exe({tree, streams});
        EXPECT_EQ(result.status, 1) << streams << result.err;
        EXPECT_EQ(result.err.find(".adata."), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("  0 directories, 2 files, 2 bytes"), std::string::npos)
            << result.err;
        std::size_t told = 0;
        for (std::size_t at = 0;
             (at = result.err.find("Alt Data Read error", at)) != std::string::npos; ++at)
            ++told;
        EXPECT_LE(told, std::string(streams) == "+S" ? 1u : 0u) << streams << result.err;
    }
}

TEST(Wine, DigestsAgreeWithTheLinuxBuild) {
    TempTree t;
    std::string data;
    for (int i = 0; i < 300000; ++i) data.push_back(static_cast<char>(i * 7 + i / 251));
    t.file("tree/data.bin", data);
    t.file("tree/empty");
    t.file("tree/short", "abc");
    // Every digest the program has, SHA-256 through the processor's
    // instructions where the Linux build finds them.
    const std::vector<std::string> digest_options{"-c",     "-5",     "-s",     "--SHA2",
                                                  "--SHA5", "--SHA3", "--XXH3", "--BLAKE3"};
    std::vector<std::string> linux_args{t.path("tree")};
    std::vector<std::string> windows_args{windows_path(t.path("tree"))};
    linux_args.insert(linux_args.end(), digest_options.begin(), digest_options.end());
    windows_args.insert(windows_args.end(), digest_options.begin(), digest_options.end());
    const auto linux_run = run_linux(linux_args);
    const auto windows_run = run_exe(windows_args);
    ASSERT_EQ(windows_run.status, 1) << windows_run.err;
    auto digests = [](const std::string& err) {
        Lines found;
        const std::regex fields(
            R"( ([0-9A-F]{128}|[0-9A-F]{64}|[0-9A-F]{40}|[0-9A-F]{32}|[0-9A-F]{8}) )");
        for (const auto& line : lines_of(err))
            for (std::sregex_iterator it(line.begin(), line.end(), fields), end; it != end; ++it)
                found.push_back((*it)[1]);
        return found;
    };
    const Lines expected = digests(linux_run.err);
    EXPECT_EQ(expected.size(), 24u) << linux_run.err;
    EXPECT_EQ(digests(windows_run.err), expected) << windows_run.err;
}

// Member names are decoded by the archive's rules, not by the code page
// the program runs under: both builds write the same CSV rows.
TEST(Wine, ZipMembersAgreeWithTheLinuxBuild) {
    TempTree t;
    t.file("tree/app.jar", zip_fixtures::build_zip({
                               {.name = "Gr\x94\xE1"
                                        "e.txt",  // code page 437
                                .data = "abc",
                                .streamed = true},
                               {.name = "\xC3\xA9t\xC3\xA9.txt", .data = "", .flags = 0x800},
                               {.name = "big", .data = "x", .size = 5000000000ull, .zip64 = true},
                           }));
    const auto members = [](const std::string& csv, const std::string& root) {
        Lines rows;
        // The Windows build's CR LF is read as a line end already.
        for (auto line : lines_of(csv))
            if (line.starts_with("zip member," + root)) {
                if (line.ends_with('\r')) line.pop_back();
                rows.push_back(line.substr(11 + root.size()));
            }
        return rows;
    };
    const auto linux_run = run_linux({t.path("tree"), "--ziplog", "--CSV", "-o", "stdout"});
    const auto windows_run =
        run_exe({windows_path(t.path("tree")), "--ziplog", "--CSV", "-o", "stdout"});
    ASSERT_EQ(windows_run.status, 1) << windows_run.err;
    const Lines expected = members(linux_run.out, t.path("tree") + "/");
    EXPECT_EQ(expected.size(), 3u) << linux_run.out;
    EXPECT_EQ(members(windows_run.out, windows_path(t.path("tree")) + "\\"), expected)
        << windows_run.out;
}

TEST(Wine, AccountingLogGetsOneBlockPerRun) {
    TempTree t;
    t.file("tree/a.txt", "alpha");
    const std::string work = t.dir("work");
    const std::string tree = windows_path(t.path("tree"));
    const std::string log = windows_path(work + "/logs/run.log");
    ASSERT_EQ(run_exe({tree, "-1", log}, work).status, 1);
    ASSERT_EQ(run_exe({tree, "-1", log}, work).status, 1);
    const std::string text = wine::read_windows_text(work + "/logs/run.log");
    const std::string separator = "\n" + std::string(40, '*') + "\n";
    const std::string stars = std::string(53, '*') + "\n";
    std::size_t blocks = 0;
    for (std::size_t at = 0; (at = text.find(separator, at)) != std::string::npos; ++at) ++blocks;
    EXPECT_EQ(blocks, 2u) << text;
    EXPECT_NE(text.find(" Initial directory: " + tree + "\n"), std::string::npos) << text;
    ASSERT_GE(text.size(), stars.size());
    EXPECT_EQ(text.substr(text.size() - stars.size()), stars);
}

}  // namespace

namespace {

// A program and a built-in of the interpreter both get every name as one
// argument, whole: "&" and "%", the private-use character U+E000 and a
// leading "-" included. Each file's contents come back, nothing else runs.
TEST(Wine, PerFileCommandsTakeHostileNamesLiterally) {
    TempTree t;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a&b%nosuchvar%.txt", "hello-and-percent"},
        {"\xEE\x80\x80.txt", "private-use-name"},
        {"-dash.txt", "leading-dash"},
    };
    for (const auto& [name, text] : files) t.file("d/" + name, text + "\r\n");
    const std::string dir = windows_path(t.path("d"));
    for (const std::string option : {"-e", "-E"}) {
        for (const std::string& command :
             {std::string("C:\\windows\\system32\\cmd.exe /c type %"), std::string("type %")}) {
            // A bare name is found in the working directory.
            const auto result = run_exe({dir, option, command}, t.path("d"));
            EXPECT_EQ(result.status, 1) << option << " " << command << result.err;
            for (const auto& [name, text] : files)
                EXPECT_NE(result.out.find(text), std::string::npos)
                    << option << " " << command << " " << name << "\n"
                    << result.out << result.err;
        }
    }
}

}  // namespace

// The Windows build compares a tree with its own CSV catalogue and with a
// sha256sum file of relative names: every class, and the same verdicts the
// Linux build gives.
TEST(Wine, ComparesWithACatalogueAndAChecksumList) {
    TempTree t;
    t.file("tree/d1/same", "same");
    t.file("tree/d1/edit", "abcd");
    t.file("tree/d1/gone", "gone");
    t.file("tree/d1/move", "moving content");
    const std::string tree = windows_path(t.path("tree"));
    const std::string before = windows_path(t.path("before.csv"));
    ASSERT_EQ(run_exe({tree, "--CSV", "--SHA2", "-o", before}).status, 1);
    const std::string make_sums =
        "cd '" + t.path("tree") + "' && sha256sum d1/same d1/edit d1/gone > ../sums.txt";
    ASSERT_EQ(std::system(make_sums.c_str()), 0);

    t.file("tree/d1/edit", "abce");  // the same size, other content
    std::filesystem::remove(t.path("tree/d1/gone"));
    std::filesystem::create_directories(t.path("tree/d2"));
    std::filesystem::rename(t.path("tree/d1/move"), t.path("tree/d2/moved"));
    t.file("tree/d2/new", "new");

    auto changes = [](const std::string& rows) {
        std::string found;
        for (const auto& line : lines_of(rows)) {
            const auto kind_end = line.find(',');
            const auto change_end = line.find(',', kind_end + 1);
            const auto name = line.find_last_of('\\');
            if (kind_end == std::string::npos || change_end == std::string::npos ||
                name == std::string::npos || line.rfind("kind,", 0) == 0)
                continue;
            found += line.substr(kind_end + 1, change_end - kind_end - 1) + " " +
                     line.substr(name + 1, line.find(',', name) - name - 1) + "|";
        }
        return found;
    };
    const auto catalogue = run_exe({tree, "--CSV", "--SHA2", "--DIFF=" + before, "-o", "stdout"});
    ASSERT_EQ(catalogue.status, 1) << catalogue.err;
    EXPECT_EQ(changes(catalogue.out),
              "changed edit|unchanged same|moved moved|added new|removed gone|");
    EXPECT_NE(catalogue.err.find("1 added, 1 removed, 1 moved, 1 changed, 1 unchanged"),
              std::string::npos)
        << catalogue.err;

    const auto checksums = run_exe({tree, "--CSV", "--SHA2", "--CHANGED",
                                    "--DIFF=" + windows_path(t.path("sums.txt")), "-o", "stdout"});
    ASSERT_EQ(checksums.status, 1) << checksums.err;
    EXPECT_EQ(changes(checksums.out), "changed edit|added moved|added new|removed gone|");
}

// The exe's CSV rows hold each entry's times at 100 ns and its identity,
// which Windows tells only to an open of the entry: two names of one file
// share the volume and the file index and count two links; the write time
// is the Linux one cut to what Windows keeps. The second name is not read
// again: it takes the first one's digest.
TEST(Wine, CsvRowsCarryTheTimesAndIdentityOfEachEntry) {
    TempTree t;
    t.file("tree/one", "x");
    t.stamp("tree/one", e2e::kStamp, 123456789);
    t.file("tree/alone", "y");
    std::filesystem::create_directories(t.path("tree/sub"));
    std::filesystem::create_hard_link(t.path("tree/one"), t.path("tree/sub/two"));
    // Past what 64 bits of nanoseconds hold: no value rather than a wrong one.
    t.file("tree/far", "z");
    t.stamp("tree/far", 16725225600);
    const auto listed = run_exe({windows_path(t.path("tree")), "--CSV", "-5", "-o", "stdout"});
    ASSERT_EQ(listed.status, 1) << listed.err;
    EXPECT_NE(listed.err.find("Hard links not read again: 1 files (1 bytes)"), std::string::npos)
        << listed.err;
    // name -> field -> value; no name here holds a comma or a quote.
    std::map<std::string, std::map<std::string, std::string>> rows;
    Lines names;
    for (const auto& line : lines_of(listed.out)) {
        Lines fields;
        std::size_t at = 0;
        for (std::size_t end; (end = line.find(',', at)) != std::string::npos; at = end + 1)
            fields.push_back(line.substr(at, end - at));
        fields.push_back(line.substr(at));
        if (names.empty()) {
            names = fields;
            continue;
        }
        ASSERT_EQ(fields.size(), names.size()) << line;
        const std::string& path = fields[1];
        for (std::size_t i = 0; i < fields.size(); ++i)
            rows[path.substr(path.find_last_of('\\') + 1)][names[i]] = fields[i];
    }
    ASSERT_EQ(rows.size(), 4u) << listed.out;
    for (const char* field : {"modified_ns", "change_time_ns", "device", "inode", "links"})
        EXPECT_EQ(rows["far"].at(field), "") << field;
    const auto& one = rows["one"];
    const auto& two = rows["two"];
    const auto& alone = rows["alone"];
    for (const char* field : {"modified_ns", "change_time_ns", "device", "inode", "links"}) {
        SCOPED_TRACE(field);
        EXPECT_FALSE(one.at(field).empty());
        EXPECT_EQ(one.at(field), two.at(field));
        EXPECT_EQ(one.at(field).find_first_not_of("0123456789"), std::string::npos);
    }
    EXPECT_EQ(one.at("modified_ns"), "1704164645123456700");
    EXPECT_EQ(std::stoll(one.at("change_time_ns")) % 100, 0);
    EXPECT_EQ(one.at("links"), "2");
    EXPECT_EQ(alone.at("links"), "1");
    EXPECT_EQ(one.at("md5"), "9DD4E461268C8034F5C8564E155C67A6");  // of "x"
    EXPECT_EQ(two.at("md5"), one.at("md5"));
    EXPECT_EQ(alone.at("device"), one.at("device"));
    EXPECT_NE(alone.at("inode"), one.at("inode"));
}

TEST(Wine, ReusesItsOwnListingAndReadsAFileWhoseChangeTimeMoved) {
    TempTree t;
    for (const char* name : {"tree/a", "tree/b", "tree/sub/c"}) t.file(name, name);
    const std::string tree = windows_path(t.path("tree"));
    const std::string first = windows_path(t.path("first.csv"));
    ASSERT_EQ(run_exe({tree, "--CSV", "-c", "-5", "-o", first}).status, 1);

    // The same size and write time, other content: only its change time
    // tells, so it is read again and gets its new digests.
    t.file("tree/b", "tree/B");
    t.stamp("tree/b");
    const std::string full = windows_path(t.path("full.csv"));
    ASSERT_EQ(run_exe({tree, "--CSV", "-c", "-5", "-o", full}).status, 1);
    const std::string again = windows_path(t.path("again.csv"));
    const auto reused = run_exe({tree, "--CSV", "-c", "-5", "--REUSE=" + first, "-o", again});
    ASSERT_EQ(reused.status, 1) << reused.err;
    EXPECT_NE(reused.err.find("Digests reused from " + first + ": 2 files"), std::string::npos)
        << reused.err;
    const std::string full_rows = wine::read_file(t.path("full.csv"));
    EXPECT_NE(e2e::line_with(wine::read_file(t.path("first.csv")), "tree\\b,"),
              e2e::line_with(full_rows, "tree\\b,"));
    EXPECT_EQ(wine::read_file(t.path("again.csv")), full_rows);
}

// Directory totals: the Windows build tells the two names of one file by
// its file index, as the Linux build does by its inode, and both write the
// same totals for each directory, the start path's included.
TEST(Wine, TreeTotalsAgreeWithTheLinuxBuild) {
    TempTree t;
    t.file("tree/a/x.txt", "55555");
    t.file("tree/a/b/y.txt", "999999999");
    t.dir("tree/c");
    ASSERT_EQ(::link(t.path("tree/a/b/y.txt").c_str(), t.path("tree/c/y2.txt").c_str()), 0);
    const std::string work = t.dir("work");
    // Each directory row's path below the tree and its totals.
    const auto totals = [&](const std::string& listing) {
        std::map<std::string, std::string> found;
        static const std::regex row(
            R"re("kind":"directory","path":"[^"]*?tree([^"]*)".*("tree_files":\d+,"tree_bytes":\d+))re");
        for (std::string line : lines_of(listing)) {
            std::replace(line.begin(), line.end(), '\\', '/');
            line = std::regex_replace(line, std::regex("//"), "/");
            std::smatch m;
            if (std::regex_search(line, m, row)) found[m[1]] = m[2];
        }
        return found;
    };
    const std::vector<std::string> options{"-Ad", "--TREESIZE", "--JSONL", "-t0", "-o"};
    std::vector<std::string> exe_args{windows_path(t.path("tree"))}, linux_args{t.path("tree")};
    exe_args.insert(exe_args.end(), options.begin(), options.end());
    linux_args.insert(linux_args.end(), options.begin(), options.end());
    exe_args.push_back(windows_path(work + "/exe.jsonl"));
    linux_args.push_back(work + "/linux.jsonl");
    ASSERT_EQ(run_exe(exe_args).status, 1);
    ASSERT_EQ(run_linux(linux_args).status, 1);
    const auto from_exe = totals(wine::read_file(work + "/exe.jsonl"));
    EXPECT_EQ(from_exe, totals(wine::read_file(work + "/linux.jsonl")));
    EXPECT_EQ(from_exe.at(""), "\"tree_files\":2,\"tree_bytes\":14");
}

TEST(Wine, DuplicateGroupsAgreeWithTheLinuxBuild) {
    TempTree t;
    const std::string big(6000, 'b');
    t.file("tree/a/big1", big);
    t.file("tree/big2", big);
    ASSERT_EQ(::link(t.path("tree/big2").c_str(), t.path("tree/a/big3").c_str()), 0);
    t.file("tree/a/other", std::string(5999, 'b') + "c");
    t.file("tree/a/small", "tiny");
    t.file("tree/small2", "tiny");
    t.file("tree/lone", "lone");
    t.file("tree/empty1");
    t.file("tree/empty2");
    const std::string work = t.dir("work");
    // Each row's group and path below the tree, in the listing's order.
    const auto groups = [&](const std::string& listing) {
        std::vector<std::string> found;
        static const std::regex row(R"re("dupe_group":(\d+),"path":"[^"]*?tree([^"]*)")re");
        for (std::string line : lines_of(listing)) {
            std::replace(line.begin(), line.end(), '\\', '/');
            line = std::regex_replace(line, std::regex("//"), "/");
            std::smatch m;
            if (std::regex_search(line, m, row)) found.push_back(m[1].str() + " " + m[2].str());
        }
        return found;
    };
    const std::vector<std::string> options{"--DUPES", "--JSONL", "-t0", "-o"};
    std::vector<std::string> exe_args{windows_path(t.path("tree"))}, linux_args{t.path("tree")};
    exe_args.insert(exe_args.end(), options.begin(), options.end());
    linux_args.insert(linux_args.end(), options.begin(), options.end());
    exe_args.push_back(windows_path(work + "/exe.jsonl"));
    linux_args.push_back(work + "/linux.jsonl");
    const wine::Result exe = run_exe(exe_args);
    ASSERT_EQ(exe.status, 1) << exe.err;
    ASSERT_EQ(run_linux(linux_args).status, 1);
    const auto from_exe = groups(wine::read_file(work + "/exe.jsonl"));
    EXPECT_EQ(from_exe, groups(wine::read_file(work + "/linux.jsonl")));
    EXPECT_EQ(from_exe, (std::vector<std::string>{"1 /a/big1", "1 /a/big3", "1 /big2", "2 /a/small",
                                                  "2 /small2"}));
    EXPECT_NE(exe.err.find("Duplicate groups: 2, files: 4, bytes that could be saved: 6,004"),
              std::string::npos)
        << exe.err;
}

TEST(Wine, PruneAndDepthAsOnLinuxWithWindowsCaseRules) {
    TempTree t;
    for (const char* f : {"keep.txt", "a/b/dup.txt", "a/c/x.txt", "a/c/b/deep.txt", "src/main.c"})
        t.file(std::string("tree/") + f, "x");
    const std::string tree = windows_path(t.path("tree"));
    const std::string list = t.path("names");
    struct Case {
        Lines options;
        Lines listed;  // below the tree, in Windows form
    };
    const Case cases[] = {
        {{"--PRUNE=B"}, {"a\\c\\x.txt", "keep.txt", "src\\main.c"}},  // no case on Windows
        {{"--PRUNE=a\\b"}, {"a\\c\\b\\deep.txt", "a\\c\\x.txt", "keep.txt", "src\\main.c"}},
        {{"--PRUNE=**/C", "-Ad"}, {"a", "a\\b", "a\\b\\dup.txt", "keep.txt", "src", "src\\main.c"}},
        {{"--DEPTH=1", "-Ad"}, {"a", "keep.txt", "src"}},
        {{"--DEPTH=2"}, {"keep.txt", "src\\main.c"}},
    };
    for (const auto& c : cases) {
        Lines args{tree, "--NUL", "-o", windows_path(list)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = run_exe(args);
        EXPECT_EQ(result.status, 1) << c.options[0] << result.err;
        const std::string names = wine::read_file(list);
        Lines listed;
        std::size_t at = 0;
        for (std::size_t end; (end = names.find('\0', at)) != std::string::npos; at = end + 1) {
            const std::string name = names.substr(at, end - at);
            EXPECT_EQ(name.rfind(tree + "\\", 0), 0u) << name;
            listed.push_back(name.substr(tree.size() + 1));
        }
        EXPECT_EQ(at, names.size()) << "a name without its NUL";
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, c.listed) << c.options[0];
    }
    const auto zero = run_exe({tree, "--DEPTH=0"});
    EXPECT_EQ(zero.status, 6);
}

// The exe has no SQLite: --DB is refused before anything is listed, and a
// database named to --DIFF or --REUSE is no catalogue it can read.
TEST(Wine, HasNoDatabaseSupport) {
    TempTree t;
    t.file("tree/a.txt", "a");
    const std::string tree = windows_path(t.path("tree"));
    const std::string db = t.path("cat.sqlite");
    const auto refused = run_exe({tree, "--DB=" + windows_path(db), "-o", "stdout"});
    EXPECT_EQ(refused.status, 6) << refused.err;
    EXPECT_NE(refused.err.find("This build has no database support"), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out.find("a.txt"), std::string::npos) << refused.out;
    EXPECT_FALSE(std::filesystem::exists(db));
    const auto server = run_exe({tree, "--DB=postgresql://localhost/catalogue", "-o", "stdout"});
    EXPECT_EQ(server.status, 6) << server.err;
    EXPECT_NE(server.err.find("PostgreSQL is not supported by this build"), std::string::npos)
        << server.err;

    ASSERT_EQ(run_linux({t.path("tree"), "--DB=" + db, "-o", t.path("list.txt")}).status, 1);
    for (const char* option : {"--DIFF=", "--REUSE="}) {
        const auto r = run_exe({tree, "--CSV", option + windows_path(db), "-o", "stdout"});
        EXPECT_EQ(r.status, 3) << option << r.err;
        EXPECT_NE(r.err.find("this build has no database support"), std::string::npos) << r.err;
    }
}
