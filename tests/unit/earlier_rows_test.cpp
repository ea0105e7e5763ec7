// The compact store of earlier rows: every field comes back as it went in,
// whatever the path's directory, the digest's form or the numbers' signs,
// and each path is found by its exact bytes.
#include "catalogue/earlier_rows.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

using namespace filarix;

namespace {

EarlierEntry file(std::string path) {
    EarlierEntry e;
    e.kind = "file";
    e.path = std::move(path);
    return e;
}

void expect_same(const EarlierEntry& a, const EarlierEntry& b) {
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.relative_path, b.relative_path);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.digests, b.digests);
    EXPECT_EQ(a.modified, b.modified);
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.owner, b.owner);
    EXPECT_EQ(a.target, b.target);
    EXPECT_EQ(a.modified_ns, b.modified_ns);
    EXPECT_EQ(a.change_time_ns, b.change_time_ns);
    EXPECT_EQ(a.device, b.device);
    EXPECT_EQ(a.inode, b.inode);
    EXPECT_EQ(a.links, b.links);
}

std::vector<EarlierEntry> sample_rows() {
    std::vector<EarlierEntry> rows;
    EarlierEntry full = file("/data/a.txt");
    full.size = 1234;
    full.digests[digest_index(DigestId::sha256)] = std::string(64, 'A');
    full.digests[digest_index(DigestId::md5)] = "00FF00FF00FF00FF00FF00FF00FF00FF";
    full.modified = "2026-01-02T03:04:05.123456789+01:00";
    full.attributes = "A.....";
    full.owner = "root";
    full.target = "";
    full.modified_ns = -1;  // before 1970
    full.change_time_ns = std::numeric_limits<std::int64_t>::min();
    full.device = std::numeric_limits<std::uint64_t>::max();
    full.inode = 0;
    full.links = 2;
    rows.push_back(full);
    // A digest held as written when it is not upper-case hex of its length.
    EarlierEntry odd = file("/data/b.txt");
    odd.digests[digest_index(DigestId::sha256)] = "abc";
    odd.digests[digest_index(DigestId::md5)] = std::string(32, 'f');
    odd.size = 0;
    odd.change_time_ns = std::numeric_limits<std::int64_t>::max();
    rows.push_back(odd);
    EarlierEntry link = file("/data/sub/link");
    link.kind = "link";
    link.target = "../a.txt";
    rows.push_back(link);
    // Paths without a directory, with both separators, with bytes that
    // are not UTF-8, and a line end.
    rows.push_back(file("bare"));
    rows.push_back(file("C:\\work\\dir/mixed\\name"));
    rows.push_back(file(std::string("/data/\xff\xfe/\n/x\0y", 14)));
    EarlierEntry relative = file("./sub/c.txt");
    relative.relative_path = true;
    rows.push_back(relative);
    // A row longer than a block of the store, among others: the rows after
    // it are still found.
    EarlierEntry long_target = file("/data/long");
    long_target.kind = "link";
    long_target.target = std::string(300000, 't');
    rows.push_back(long_target);
    // A directory met again after others: still one path each.
    rows.push_back(file("/data/a2.txt"));
    EarlierEntry unusual = file("/data/odd kind");
    unusual.kind = "a kind of its own";
    unusual.owner = std::string(300, 'o');
    rows.push_back(unusual);
    return rows;
}

TEST(EarlierRows, EveryFieldComesBackAsItWentIn) {
    EarlierRows rows;
    const std::vector<EarlierEntry> sample = sample_rows();
    for (const EarlierEntry& e : sample) EXPECT_TRUE(rows.add(e)) << e.path;
    ASSERT_EQ(rows.size(), sample.size());
    EarlierEntry reused;
    for (std::size_t i = 0; i < sample.size(); ++i) {
        SCOPED_TRACE(sample[i].path);
        expect_same(rows.row(i), sample[i]);
        // Read into an entry that held another row: nothing of it stays.
        rows.read(i, reused);
        expect_same(reused, sample[i]);
        std::string path;
        rows.read_path(i, path);
        EXPECT_EQ(path, sample[i].path);
        EXPECT_EQ(rows.find(sample[i].path), i);
    }
}

TEST(EarlierRows, EveryTimeTextComesBackAsWritten) {
    // Those the listings write are held as numbers, any other as written.
    const char* texts[] = {
        "2026-01-02T03:04:05.123456789+01:00",
        "2026-01-02T03:04:05Z",
        "2026-01-02T03:04:05.000+00:00",
        "2026-01-02T03:04:05",
        "1969-12-31T23:59:59.5-05:30",
        "1601-01-01T00:00:00.000Z",
        "0000-01-01T00:00:00",
        "9999-12-31T23:59:59.999999999+99:59",
        "2024-02-29T12:00:00",
        "2026-02-30T00:00:00",
        "2026-01-02T24:00:00",
        "2026-01-02 03:04:05",
        "2026-01-02T03:04:05.+00:00",
        "2026-01-02T03:04:05.0123456789Z",
        "2026-01-02T03:04:05+1:00",
        "2026-01-02T03:04:05ZZ",
        "2026-01-02T03:04:05.000-00:00",
        "2026-01-02T03:04:05.000+01:60",
        "2026-01-02T03:04:60",
        "2026-01-02T03:60:05",
        "2025-02-29T00:00:00",
        "2026-04-31T00:00:00",
        "2026-1-02T03:04:05",
        "not a time",
        "",
        // Rows that share a minute read it once: what follows it is still
        // checked as a whole text's would be.
        "2026-03-04T05:06:07.000Z",
        "2026-03-04T05:06:59.999Z",
        "2026-03-04T05:06:60.000Z",
        "2026-03-04T05:06:0x.000Z",
        "2026-03-04T05:06",
        "2026-03-04T05:06:07.000+00:60",
        "2026-03-04T05:06:07.000-00:00",
        "2026-03-04T05:06:07.000+01:00",
        "2026-03-04T05:07:07.000+01:00",
    };
    EarlierRows rows;
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        EarlierEntry e = file("/t/" + std::to_string(i));
        e.modified = texts[i];
        ASSERT_TRUE(rows.add(e));
    }
    for (std::size_t i = 0; i < std::size(texts); ++i) EXPECT_EQ(rows.row(i).modified, texts[i]);
}

TEST(EarlierRows, TimesBesideTheWriteTimeInNanosecondsComeBackAsWritten) {
    // The text a listing writes for the nanoseconds is held as its zone
    // alone; any other as it would be without them.
    struct Case {
        const char* modified;
        std::optional<std::int64_t> modified_ns;
        std::optional<std::int64_t> change_time_ns;
    };
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {"2026-12-09T23:04:02.670+00:00", 1796857442670463053, 1796857442670463053},
        {"2026-12-09T23:04:02.670Z", 1796857442670463053, 1796857442670463054},
        {"2026-12-10T04:49:02.670+05:45", 1796857442670463053, 0},
        {"2026-12-09T19:34:02.670-03:30", 1796857442670463053, std::nullopt},
        {"1969-12-31T23:59:59.999Z", -1, -2},
        {"1969-12-31T23:59:59.000Z", -1000000000, max},
        {"2026-12-09T23:04:02.671+00:00", 1796857442670463053, min},
        {"2026-12-09T23:04:03.670+00:00", 1796857442670463053, 1},
        {"2026-12-09T23:04:02.67+00:00", 1796857442670463053, std::nullopt},
        {"2026-12-09T23:04:02.670", 1796857442670463053, std::nullopt},
        {"not a time", 1796857442670463053, std::nullopt},
        {"", 0, 0},
        {"1970-01-01T00:00:00.000Z", min, max},
        {"1970-01-01T00:00:00.000Z", max, min},
    };
    EarlierRows rows;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EarlierEntry e = file("/t/" + std::to_string(i));
        e.modified = cases[i].modified;
        e.modified_ns = cases[i].modified_ns;
        e.change_time_ns = cases[i].change_time_ns;
        ASSERT_TRUE(rows.add(e));
    }
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const EarlierEntry e = rows.row(i);
        EXPECT_EQ(e.modified, cases[i].modified);
        EXPECT_EQ(e.modified_ns, cases[i].modified_ns);
        EXPECT_EQ(e.change_time_ns, cases[i].change_time_ns);
    }
}

TEST(EarlierRows, PathsAreFoundByTheirExactBytes) {
    EarlierRows rows;
    for (const EarlierEntry& e : sample_rows()) rows.add(e);
    EXPECT_FALSE(rows.add(file("/data/a.txt")));
    for (const char* absent : {"/data/A.txt", "/data/a.txt/", "/data/", "/data/a.tx", "", "/"})
        EXPECT_FALSE(rows.find(absent)) << absent;
}

TEST(EarlierRows, DigestsAsBytesOnlyWhereHeldAsDigests) {
    EarlierRows rows;
    for (const EarlierEntry& e : sample_rows()) rows.add(e);
    struct Case {
        std::size_t row;
        DigestId id;
        std::string bytes;
    };
    const Case cases[] = {
        {0, DigestId::sha256, std::string(32, '\xAA')},
        {0, DigestId::md5,
         std::string("\x00\xFF\x00\xFF\x00\xFF\x00\xFF\x00\xFF\x00\xFF\x00\xFF\x00\xFF", 16)},
        {0, DigestId::sha1, ""},
        {1, DigestId::sha256, ""},
        {1, DigestId::md5, ""},
        {2, DigestId::sha256, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rows.digest_bytes(c.row, c.id), c.bytes) << c.row << ' ' << digest_index(c.id);
}

TEST(EarlierRows, ManyRowsOfOneTreeTakeLittleMemory) {
    EarlierRows rows;
    const int count = 100000;
    for (int i = 0; i < count; ++i) {
        EarlierEntry e = file("/srv/archive/2026/project-" + std::to_string(i / 100) + "/file-" +
                              std::to_string(i) + ".dat");
        e.size = i;
        e.modified = "2026-01-02T03:04:05.000+00:00";
        e.modified_ns = 1767323045000000000 + i;
        e.change_time_ns = *e.modified_ns;
        e.attributes = "A.....";
        ASSERT_TRUE(rows.add(std::move(e)));
    }
    for (int i = 0; i < count; i += 997) {
        const auto at = rows.find("/srv/archive/2026/project-" + std::to_string(i / 100) +
                                  "/file-" + std::to_string(i) + ".dat");
        ASSERT_TRUE(at);
        EXPECT_EQ(rows.row(*at).size, i);
    }
    // Far below the ~700 bytes a row took as strings in a vector and a map.
    EXPECT_LT(rows.bytes_held() / count, 70u);
}

}  // namespace
