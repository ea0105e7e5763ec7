// Digests taken from an earlier listing (--REUSE) in whole in-memory runs:
// which rows are trusted, which files are opened, the counts, and the files
// refused before anything is listed.
#include <gtest/gtest.h>

#include <algorithm>

#include "run_helper.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

// Digests of "123456789", and stand-ins no read gives.
constexpr const char* real_crc = "CBF43926";
constexpr const char* real_md5 = "25F9E794323B453885F5181F1B624D0B";
constexpr const char* held_crc = "11111111";
const std::string held_md5(32, 'A');

constexpr platform::PreciseFacts facts{1704164645000000001, 1704164645000000002, 66, 4242, 1};

// The facts of a row: size, write and change times, device, inode.
std::string row(const std::string& name, const std::string& size = "9",
                const std::string& change = "1704164645000000002",
                const std::string& inode = "4242", const std::string& device = "66",
                const std::string& md5 = held_md5) {
    return "file,C:\\d\\" + name + "," + size + "," + held_crc + "," + md5 +
           ",1704164645000000001," + change + "," + device + "," + inode + ",1\r\n";
}

bool opened(const MemoryPlatform& mp, std::u16string_view name) {
    return std::any_of(mp.read_opens.begin(), mp.read_opens.end(), [&](const ReadOpen& o) {
        return o.path.size() >= name.size() &&
               o.path.compare(o.path.size() - name.size(), name.size(), name) == 0;
    });
}

std::string row_of(const std::string& listing, const std::string& name) {
    const std::string start = ",C:\\d\\" + name + ",";
    const auto at = listing.find(start);
    if (at == std::string::npos) return {};
    return listing.substr(at, listing.find('\n', at) - at);
}

TEST(ListingReuse, OnlyAFileWhoseEveryFactMatchesTakesTheRowsDigests) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    struct Case {
        const char* name;
        std::string row;  // empty: the listing has no row for it
        bool precise;     // the platform tells the entry's facts
        const char* crc;
        std::string md5;
        bool read;
    } cases[] = {
        {"same", row("same"), true, held_crc, held_md5, false},
        {"grown", row("grown", "8"), true, real_crc, real_md5, true},
        {"touched", row("touched", "9", "1704164645000000003"), true, real_crc, real_md5, true},
        {"replaced", row("replaced", "9", "1704164645000000002", "4243"), true, real_crc, real_md5,
         true},
        {"other volume", row("other volume", "9", "1704164645000000002", "4242", "67"), true,
         real_crc, real_md5, true},
        // An older listing's row, without the facts.
        {"older", row("older", "9", "1704164645000000002", ""), true, real_crc, real_md5, true},
        // The row lacks the MD5: the file is read for it alone.
        {"half", row("half", "9", "1704164645000000002", "4242", "66", "- ERROR -"), true, held_crc,
         real_md5, true},
        {"untold", row("untold"), false, real_crc, real_md5, true},
        {"new", "", true, real_crc, real_md5, true},
    };
    std::string listing =
        "kind,path,size,crc,md5,modified_ns,change_time_ns,device,inode,links\r\n"
        "directory,C:\\d\\same,0,,,1,2,3,4,1\r\n";
    for (const Case& c : cases) {
        std::optional<platform::PreciseFacts> told;
        if (c.precise) told = facts;
        mp.add_file(u"C:\\d\\" + mp.wide(c.name), "123456789", {.precise = told});
        listing += c.row;
    }
    mp.add_file(u"C:\\r.csv", listing);
    mp.add_file(u"C:\\old.csv", listing);

    // With --DIFF of another file, each file has its own counts.
    for (const bool with_diff : {false, true}) {
        mp.read_opens.clear();
        std::vector<std::u16string> args{u"filarix64", u"C:\\d",
                                         u"--CSV",     u"-c",
                                         u"-5",        u"--REUSE=C:\\r.csv",
                                         u"-o",        u"C:\\out\\list.csv",
                                         u"-1",        u"C:\\out\\run.log"};
        if (with_diff) args.push_back(u"--DIFF=C:\\old.csv");
        const RunResult r = run_in_memory(mp, args);
        ASSERT_EQ(r.code, 1) << r.err;
        const std::string out = mp.contents(u"C:\\out\\list.csv").value_or("");
        for (const Case& c : cases) {
            const std::string line = row_of(out, c.name);
            EXPECT_NE(line.find(std::string(",") + c.crc + "," + c.md5 + ","), std::string::npos)
                << c.name << ": " << line;
            EXPECT_EQ(opened(mp, u"\\" + mp.wide(c.name)), c.read) << c.name;
        }
        EXPECT_NE(r.err.find("\n  Digests reused from C:\\r.csv: 1 files (9 bytes not read)"),
                  std::string::npos)
            << r.err;
        // The directory row of a file's path is kept out of the reuse, and
        // passed over by the compare.
        EXPECT_EQ(r.err.find("Lines of C:\\r.csv passed over"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Lines of C:\\old.csv passed over: 1") != std::string::npos, with_diff)
            << r.err;
        EXPECT_EQ(r.err.find("Compared with C:\\old.csv") != std::string::npos, with_diff);
        EXPECT_NE(mp.contents(u"C:\\out\\run.log")
                      .value_or("")
                      .find("\n  Digests reused from C:\\r.csv: 1 files (9 bytes not read)\n"),
                  std::string::npos);
    }
}

TEST(ListingReuse, AWindowOfTheFileIsAlwaysRead) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\same", "123456789", {.precise = facts});
    mp.add_file(u"C:\\r.csv",
                "kind,path,size,crc,md5,modified_ns,change_time_ns,device,inode,"
                "links\r\n" +
                    row("same"));
    const RunResult r =
        run_in_memory(mp, {u"filarix64", u"C:\\d", u"--CSV", u"-c", u"--REUSE=C:\\r.csv",
                           u"--BEG=1", u"-o", u"C:\\list.csv"});
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(opened(mp, u"\\same"));
    EXPECT_NE(r.err.find("Digests reused from C:\\r.csv: 0 files (0 bytes not read)"),
              std::string::npos)
        << r.err;
}

TEST(ListingReuse, LinesPassedOverAreCounted) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\same", "123456789", {.precise = facts});
    mp.add_file(u"C:\\r.jsonl",
                "{\"kind\":\"file\",\"path\":\"C:\\\\d\\\\same\",\"size\":9,\"crc\":\"11111111\","
                "\"modified_ns\":1704164645000000001,\"change_time_ns\":1704164645000000002,"
                "\"device\":66,\"inode\":4242}\n"
                "not a row\n"
                "{\"kind\":\"file\",\"path\":\"C:\\\\d\\\\same\",\"size\":1}\n"
                "{\"kind\":\"file\",\"path\":\"C:\\\\d\\\\cut");
    const RunResult r = run_in_memory(
        mp, {u"filarix64", u"C:\\d", u"--CSV", u"-c", u"--REUSE=C:\\r.jsonl", u"-o", u"C:\\l"});
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_NE(mp.contents(u"C:\\l").value_or("").find(",11111111,"), std::string::npos);
    EXPECT_NE(r.err.find("\n  Digests reused from C:\\r.jsonl: 1 files (9 bytes not read)"
                         "\n  Lines of C:\\r.jsonl passed over: 3 (the first is line 2)"),
              std::string::npos)
        << r.err;
}

TEST(ListingReuse, CtrlCWhileTheListingIsReadEndsTheRunBeforeAnythingIsListed) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\same", "123456789", {.precise = facts});
    std::string listing = "kind,path,size,crc,modified_ns,change_time_ns,device,inode\r\n";
    for (int i = 0; i < 5000; ++i)
        listing += "file,C:\\d\\f" + std::to_string(i) + ",1,11111111,1,2,3,4\r\n";
    mp.add_file(u"C:\\r.csv", listing);
    mp.node(u"C:\\r.csv")->content->after_read = [&mp](Content&) { mp.interrupt_requested = true; };
    const RunResult r = run_in_memory(
        mp, {u"filarix64", u"C:\\d", u"--CSV", u"-c", u"--REUSE=C:\\r.csv", u"-o", u"C:\\l"});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_FALSE(mp.contents(u"C:\\l").has_value());
}

TEST(ListingReuse, AFileThatIsNoListingOfThisProgramIsRefusedBeforeAnythingIsListed) {
    const struct {
        const char* content;  // nothing: the file is not there
        const char* message;
    } cases[] = {
        {nullptr, "Cannot find/open C:\\r"},
        {"", "Can't reuse digests from C:\\r: it is no CSV or JSON Lines listing of this program"},
        {"\x01\x02garbage\xff\n", "it is no CSV or JSON Lines listing of this program"},
        {"25f9e794323b453885f5181f1b624d0b  C:\\d\\same\n",
         "Can't reuse digests from C:\\r: it is a checksum list, not a CSV or JSON Lines "
         "listing of this program"},
        {"%%%% HASHDEEP-1.0\n%%%% size,md5,filename\n9,25f9e794323b453885f5181f1b624d0b,a\n",
         "it is a hashdeep file"},
        {"Started Tue Jan 02 03:04:05 2024\n", "it is a fixed-width listing"},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\same", "123456789");
        if (c.content) mp.add_file(u"C:\\r", c.content);
        const RunResult r = run_in_memory(
            mp, {u"filarix64", u"C:\\d", u"--CSV", u"-5", u"--REUSE=C:\\r", u"-o", u"C:\\l"});
        EXPECT_EQ(r.code, 3) << c.message;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << c.message << "\n"
                                                                      << r.out << r.err;
        EXPECT_FALSE(mp.contents(u"C:\\l").has_value()) << c.message;
        EXPECT_FALSE(opened(mp, u"\\same")) << c.message;
    }
}

}  // namespace
