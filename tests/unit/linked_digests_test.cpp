// Other names of a file read before in the same run (hard links) take its
// digests: which names are opened, what their rows show, the counts, and
// the same with --REUSE.
#include <gtest/gtest.h>

#include <algorithm>

#include "run_helper.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

// Digests of "123456789"; the other names hold other bytes of that size,
// so a row showing these was not read.
constexpr const char* first_crc = "CBF43926";
constexpr const char* first_md5 = "25F9E794323B453885F5181F1B624D0B";
constexpr const char* first_bytes = "123456789";
constexpr const char* other_bytes = "987654321";

constexpr platform::PreciseFacts linked(std::uint64_t inode, std::int64_t change = 2,
                                        std::uint64_t links = 2) {
    return {1, change, 66, inode, links};
}

std::size_t opens(const MemoryPlatform& mp, std::u16string_view name) {
    return static_cast<std::size_t>(
        std::count_if(mp.read_opens.begin(), mp.read_opens.end(), [&](const ReadOpen& o) {
            return o.path.size() >= name.size() &&
                   o.path.compare(o.path.size() - name.size(), name.size(), name) == 0;
        }));
}

std::string row_of(const std::string& listing, const std::string& name) {
    const std::string start = ",C:\\d\\" + name + ",";
    const auto at = listing.find(start);
    if (at == std::string::npos) return {};
    return listing.substr(at, listing.find('\n', at) - at);
}

struct Name {
    const char* name;
    const char* bytes;
    platform::PreciseFacts facts;
    bool locked;
    bool read;         // opened (or tried) for its digests
    bool first_texts;  // its row shows the digests of first_bytes
};

// Each table's names are walked in the order given (the search order).
void check(const std::vector<Name>& names, const std::vector<std::u16string>& options,
           const char* counts) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    for (const Name& n : names)
        mp.add_file(u"C:\\d\\" + mp.wide(n.name), n.bytes,
                    {.locked = n.locked, .precise = n.facts});
    std::vector<std::u16string> args{
        u"filarix64",         u"C:\\d", u"--CSV",       u"-c", u"-5", u"-o",
        u"C:\\out\\list.csv", u"-1",    u"C:\\out\\log"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = run_in_memory(mp, args);
    ASSERT_EQ(r.code, 1) << r.err;
    const std::string out = mp.contents(u"C:\\out\\list.csv").value_or("");
    for (const Name& n : names) {
        SCOPED_TRACE(n.name);
        EXPECT_EQ(opens(mp, u"\\" + mp.wide(n.name)) != 0, n.read);
        const std::string row = row_of(out, n.name);
        EXPECT_EQ(
            row.find(std::string(",") + first_crc + "," + first_md5 + ",") != std::string::npos,
            n.first_texts)
            << row;
    }
    const std::string log = mp.contents(u"C:\\out\\log").value_or("");
    if (*counts == '\0') {
        EXPECT_EQ(r.err.find("Hard links not read again"), std::string::npos) << r.err;
        EXPECT_EQ(log.find("Hard links not read again"), std::string::npos) << log;
    } else {
        EXPECT_NE(r.err.find(std::string("\n  Hard links not read again: ") + counts + "\n"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(log.find(std::string("\n  Hard links not read again: ") + counts + "\n"),
                  std::string::npos)
            << log;
    }
}

TEST(LinkedDigests, AnotherNameOfAFileReadBeforeIsNotReadAgain) {
    const struct {
        const char* what;
        std::vector<Name> names;
        std::vector<std::u16string> options;
        const char* counts;  // empty: no line
    } cases[] = {
        {"three names",
         {{"a", first_bytes, linked(10, 2, 3), false, true, true},
          {"b", other_bytes, linked(10, 2, 3), false, false, true},
          {"c", other_bytes, linked(10, 2, 3), false, false, true}},
         {},
         "2 files (18 bytes)"},
        // The file is let go at the last name it told: a name made since is read.
        {"more names than told",
         {{"a", first_bytes, linked(10), false, true, true},
          {"b", other_bytes, linked(10), false, false, true},
          {"c", other_bytes, linked(10), false, true, false}},
         {},
         "1 files (9 bytes)"},
        {"changed since the first name was read",
         {{"a", first_bytes, linked(10), false, true, true},
          {"b", other_bytes, linked(10, 3), false, true, false}},
         {},
         ""},
        {"one name each, the same identity told",
         {{"a", first_bytes, linked(10, 2, 1), false, true, true},
          {"b", other_bytes, linked(10, 2, 1), false, true, false}},
         {},
         ""},
        {"a failed read is not kept",
         {{"a", first_bytes, linked(10), true, true, false},
          {"b", other_bytes, linked(10), false, true, false}},
         {},
         ""},
        {"a window of the file",
         {{"a", first_bytes, linked(10), false, true, false},
          {"b", other_bytes, linked(10), false, true, false}},
         {u"--BEG=1"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        check(c.names, c.options, c.counts);
    }
}

TEST(LinkedDigests, ANameWhoseDigestsCameFromAnEarlierListingGivesThemToTheOthers) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    mp.add_file(u"C:\\d\\a", other_bytes, {.precise = linked(10)});
    mp.add_file(u"C:\\d\\b", other_bytes, {.precise = linked(10)});
    mp.add_file(u"C:\\r.csv", std::string("kind,path,size,crc,md5,modified_ns,change_time_ns,"
                                          "device,inode,links\r\nfile,C:\\d\\a,9,") +
                                  first_crc + "," + first_md5 + ",1,2,66,10,2\r\n");
    const RunResult r = run_in_memory(mp, {u"filarix64", u"C:\\d", u"--CSV", u"-c", u"-5",
                                           u"--REUSE=C:\\r.csv", u"-o", u"C:\\out\\list.csv"});
    ASSERT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(mp.read_opens.empty() ||
                std::none_of(mp.read_opens.begin(), mp.read_opens.end(),
                             [](const ReadOpen& o) { return o.path.starts_with(u"C:\\d\\"); }));
    const std::string out = mp.contents(u"C:\\out\\list.csv").value_or("");
    for (const char* name : {"a", "b"})
        EXPECT_NE(row_of(out, name).find(first_md5), std::string::npos) << name << "\n" << out;
    EXPECT_NE(r.err.find("\n  Digests reused from C:\\r.csv: 1 files (9 bytes not read)"
                         "\n  Hard links not read again: 1 files (9 bytes)"),
              std::string::npos)
        << r.err;
}

}  // namespace
