// Listing an archive's members: from the central directory of real and
// hand-built archives, from the local headers of archives without one,
// through damaged, hostile and mutated bytes; the members' names; and the
// member line under the record settings.
#include "content/zip_walk.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "zip_fixtures.hpp"

using namespace filarix;
using namespace zip_fixtures;

namespace {

std::string bytes_of(const unsigned char* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
#define ARCHIVE(name) bytes_of(name, sizeof name)

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

// A file in memory. It may hand out fewer bytes per read than asked, fail
// a read or a seek, and counts what it delivered.
class MemoryFile : public platform::InputFile {
public:
    explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}
    long long read(void* buffer, std::size_t size) override {
        if (++reads_ == fail_read_at) return -1;
        if (position_ >= bytes_.size()) return 0;
        const std::size_t n =
            std::min({size, bytes_.size() - static_cast<std::size_t>(position_), chunk});
        std::copy_n(bytes_.data() + position_, n, static_cast<char*>(buffer));
        position_ += n;
        delivered += n;
        return static_cast<long long>(n);
    }
    bool seek(std::uint64_t offset) override {
        if (++seeks_ == fail_seek_at) return false;
        position_ = offset;  // past the end is allowed, as on a disk file
        return true;
    }
    std::optional<platform::FileState> state() override {
        return platform::FileState{bytes_.size(), 0};
    }
    std::size_t chunk = SIZE_MAX;
    int fail_read_at = 0;
    int fail_seek_at = 0;
    std::uint64_t delivered = 0;

private:
    std::string bytes_;
    std::uint64_t position_ = 0;
    int reads_ = 0;
    int seeks_ = 0;
};

ZipWalk walk(const std::string& bytes) {
    MemoryFile file(bytes);
    return walk_zip_members(file, bytes.size());
}

std::string when(const ZipMember& m) {
    const DosDateTime t = decode_dos_date_time(m.dos_date, m.dos_time);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

struct Expected {
    std::string name;
    std::uint64_t offset;
    std::uint64_t compressed;
    std::uint64_t uncompressed;
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::string when = "2001-02-01 13:05:08";
};

void expect_members(const ZipWalk& w, const std::vector<Expected>& expected,
                    const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(w.members.size(), expected.size());
    EXPECT_EQ(w.count, expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ZipMember& m = w.members[i];
        const Expected& e = expected[i];
        EXPECT_EQ(m.name, e.name);
        EXPECT_EQ(m.header_offset, e.offset) << e.name;
        EXPECT_EQ(m.compressed_size, e.compressed) << e.name;
        EXPECT_EQ(m.uncompressed_size, e.uncompressed) << e.name;
        EXPECT_EQ(m.method, e.method) << e.name;
        EXPECT_EQ(m.flags, e.flags) << e.name;
        EXPECT_EQ(when(m), e.when) << e.name;
    }
}

const std::vector<Expected> mixed_members = {
    {"a.txt", 0, 3, 3},
    {"dir/", 38, 0, 0, 0, 0, "1999-12-31 23:59:58"},
    {"dir/b.log", 72, 11, 24, 8, 0, "2024-07-04 08:30:00"},
    {"\xc3\xa9t\xc3\xa9.txt", 122, 1, 1, 0, 0x800, "2010-10-10 10:10:10"},
};

// Three members written as jar tools and zip to a pipe write them: the
// sizes follow each member's data.
const std::vector<Member> streamed = {
    {.name = "META-INF/MANIFEST.MF", .data = "Manifest-Version: 1.0\r\n", .streamed = true},
    {.name = "a/b.class", .data = "\xCA\xFE\xBA\xBE", .size = 900, .method = 8, .streamed = true},
    {.name = "c.txt", .data = "", .streamed = true},
};
const std::vector<Expected> streamed_members = {
    {"META-INF/MANIFEST.MF", 0, 23, 23, 0, 8},
    {"a/b.class", 89, 4, 900, 8, 8},
    {"c.txt", 148, 0, 0, 0, 8},
};

TEST(ZipWalk, EveryMemberOfWholeArchivesFromTheDirectory) {
    const struct {
        const char* what;
        std::string bytes;
        std::vector<Expected> members;
    } cases[] = {
        {"stored, deflated, directory and UTF-8 members", ARCHIVE(mixed_zip), mixed_members},
        {"ZIP64 sizes in the local header",
         ARCHIVE(zip64_zip),
         {{"big.bin", 0, 10, 10}, {"after.txt", 67, 2, 2}}},
        {"sizes in data descriptors: taken from the directory",
         ARCHIVE(descriptor_zip),
         {{"first.txt", 0, 15, 27, 8, 8}, {"second.txt", 70, 16, 14, 8, 8}}},
        {"streamed as jar tools write", build_zip(streamed), streamed_members},
        {"streamed with a ZIP64 end record and a comment",
         build_zip(streamed, {.zip64_end = true, .comment = "made by hand"}), streamed_members},
        {"the end record's signature inside the comment",
         build_zip(streamed, {.comment = "see PK\x05\x06 in the format's notes, page 12"}),
         streamed_members},
        {"bytes appended after the end record", build_zip(streamed) + "trailing bytes",
         streamed_members},
        {"sizes past 4 GiB, the largest one stored",
         build_zip({{.name = "huge", .data = "x", .size = 5000000000ull, .zip64 = true},
                    {.name = "max", .data = "", .size = UINT64_MAX, .zip64 = true}}),
         {{"huge", 0, 1, 5000000000ull}, {"max", 55, 0, UINT64_MAX}}},
        {"an archive of no member",
         build_zip({}, {.comment = "PK\x03\x04"}).insert(0, "PK\x03\x04"),
         {}},
    };
    for (const auto& c : cases) {
        const ZipWalk w = walk(c.bytes);
        expect_members(w, c.members, c.what);
        EXPECT_EQ(w.stop, ZipStop::directory_read) << c.what;
        EXPECT_TRUE(w.whole()) << c.what;
        EXPECT_EQ(w.message, "") << c.what;
    }
}

TEST(ZipWalk, FilesThatAreNoArchive) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"a text that begins with PK", "PK is not an archive, only text.\n"},
        {"an empty archive is its end record", ARCHIVE(empty_zip)},
        {"a file of 0 bytes", ""},
        {"a short text", "PK\x03"},
    };
    for (const auto& c : cases) {
        const ZipWalk w = walk(c.bytes);
        expect_members(w, {}, c.what);
        EXPECT_EQ(w.stop, ZipStop::not_an_archive) << c.what;
        EXPECT_TRUE(w.whole()) << c.what;
    }
}

// Without a readable directory the local headers are walked; the archive
// is then never whole.
TEST(ZipWalk, CutArchivesListWhatTheirLocalHeadersHold) {
    // In "mixed", dir/b.log's header spans 72-101, its name 102-110, its
    // data 111-121; the last member ends at 162, the directory at 373.
    const std::vector<Expected> first_two(mixed_members.begin(), mixed_members.begin() + 2);
    const std::vector<Expected> first_three(mixed_members.begin(), mixed_members.begin() + 3);
    const std::string mixed = ARCHIVE(mixed_zip);
    const std::string jar = build_zip(streamed);
    const struct {
        std::string bytes;
        std::vector<Expected> members;
        ZipStop stop;
    } cases[] = {
        {mixed.substr(0, 20), {}, ZipStop::short_header},
        {mixed.substr(0, 36), {}, ZipStop::data_past_end},
        {mixed.substr(0, 100), first_two, ZipStop::short_header},
        {mixed.substr(0, 108), first_two, ZipStop::name_past_end},
        {mixed.substr(0, 115), first_two, ZipStop::data_past_end},
        {mixed.substr(0, 122), first_three, ZipStop::end_of_file},
        {mixed.substr(0, 155), first_three, ZipStop::name_past_end},
        {mixed.substr(0, 162), mixed_members, ZipStop::end_of_file},
        {mixed.substr(0, 380), mixed_members, ZipStop::not_a_header},
        // A streamed member's size is not known without the directory: it
        // is not listed as a false 0.
        {jar.substr(0, jar.size() - 30), {}, ZipStop::sizes_in_descriptor},
        {build_zip({{.name = "a", .data = "xyz"}, {.name = "b", .data = "", .streamed = true}},
                   {.directory = false}),
         {{"a", 0, 3, 3}},
         ZipStop::sizes_in_descriptor},
    };
    for (const auto& c : cases) {
        const std::string what = "cut at " + std::to_string(c.bytes.size());
        const ZipWalk w = walk(c.bytes);
        expect_members(w, c.members, what);
        EXPECT_EQ(w.stop, c.stop) << what;
        EXPECT_FALSE(w.whole()) << what;
        EXPECT_EQ(w.message, "") << what;
    }
}

TEST(ZipWalk, LocalHeadersThatNoArchiverWrites) {
    std::string timestamp_then_zip64("\x55\x54\x05\x00\x01\x00\x00\x00\x00", 9);
    timestamp_then_zip64 += zip64_block(5000000000ull, 7);
    const std::string long_name = "deep/" + std::string(3000, 'n') + ".txt";
    const auto local = [](std::vector<Member> members) {
        return build_zip(members, {.directory = false});
    };
    const struct {
        const char* what;
        std::string bytes;
        std::vector<Expected> members;
        ZipStop stop;
    } cases[] = {
        {"a name of 3,009 bytes is kept whole",
         local({{.name = long_name, .data = "x"}, {.name = "next", .data = ""}}),
         {{long_name, 0, 1, 1}, {"next", 3040, 0, 0}},
         ZipStop::end_of_file},
        {"the ZIP64 block found behind another block",
         local({{.name = "big",
                 .data = "1234567",
                 .local_compressed = 0xFFFFFFFF,
                 .local_uncompressed = 0xFFFFFFFF,
                 .local_extra = timestamp_then_zip64}}),
         {{"big", 0, 7, 5000000000ull}},
         ZipStop::end_of_file},
        {"sizes marked for ZIP64 with no block to hold them",
         local({{.name = "big",
                 .data = "1234567",
                 .local_compressed = 0xFFFFFFFF,
                 .local_uncompressed = 0xFFFFFFFF}}),
         {},
         ZipStop::zip64_sizes_missing},
        {"a ZIP64 block that reaches past its extra field",
         local({{.name = "big",
                 .data = "1234567",
                 .local_compressed = 0xFFFFFFFF,
                 .local_uncompressed = 0xFFFFFFFF,
                 .local_extra = std::string("\x01\x00\x10\x00\x07\x00\x00\x00", 8)}}),
         {},
         ZipStop::zip64_sizes_missing},
        {"a name length of 0", local({{.name = "", .data = "abc"}}), {}, ZipStop::empty_name},
        {"a name length past the end",
         local({{.name = "abc", .name_length = 60000}}),
         {},
         ZipStop::name_past_end},
        {"an extra length past the end",
         local({{.name = "abc", .extra_length = 60000}}),
         {},
         ZipStop::extra_past_end},
        {"a compressed size past the end",
         local({{.name = "a", .data = "1"}, {.name = "b", .data = "22", .local_compressed = 3}}),
         {{"a", 0, 1, 1}},
         ZipStop::data_past_end},
        {"flag bit 3 with the sizes in the header as well: the walk goes on",
         local({{.name = "a", .data = "xyz", .flags = 8}, {.name = "b", .data = ""}}),
         {{"a", 0, 3, 3, 0, 8}, {"b", 34, 0, 0}},
         ZipStop::end_of_file},
    };
    for (const auto& c : cases) {
        const ZipWalk w = walk(c.bytes);
        expect_members(w, c.members, c.what);
        EXPECT_EQ(w.stop, c.stop) << c.what;
    }
}

// Directories whose numbers lie. Whatever they say, the work is bounded by
// the file: a directory that cannot be where its end record puts it is no
// directory (the local headers are walked instead), and a damaged entry
// ends the listing after the members before it.
TEST(ZipWalk, DirectoriesThatLie) {
    // Names long enough that a count one too high still fits the size.
    const std::vector<Member> three = {{.name = std::string(20, 'a'), .data = "1"},
                                       {.name = std::string(20, 'b'), .data = "22"},
                                       {.name = std::string(20, 'c'), .data = "333"}};
    const std::string whole = build_zip(three);
    const std::size_t end = whole.size() - 22;  // the end record
    const std::size_t central = end - 3 * 66;   // the first directory entry
    const std::vector<Expected> all = {
        {three[0].name, 0, 1, 1}, {three[1].name, 51, 2, 2}, {three[2].name, 103, 3, 3}};
    const auto patched = [&](std::size_t at, std::uint64_t value, int width) {
        std::string bytes = whole;
        set_le(bytes, at, value, width);
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
        std::vector<Expected> members;
        ZipStop stop;
    } cases[] = {
        {"a directory offset past the end is not followed", patched(end + 16, 0xFFFFFF00u, 4), all,
         ZipStop::directory_read},
        {"a count of 65,535: no directory, the local headers are walked",
         patched(end + 10, 0xFFFF, 2), all, ZipStop::not_a_header},
        {"a directory size larger than the file", patched(end + 12, 0xFFFFFFF0u, 4), all,
         ZipStop::not_a_header},
        {"a count one more than the entries", patched(end + 10, 4, 2), all,
         ZipStop::directory_damaged},
        {"a count one less than the entries", patched(end + 10, 2, 2), all,
         ZipStop::directory_damaged},
        {"the second entry's signature broken",
         patched(central + 66, 0, 1),
         {all[0]},
         ZipStop::directory_damaged},
        {"the second entry's name reaching past the directory",
         patched(central + 66 + 28, 0xFFFF, 2),
         {all[0]},
         ZipStop::directory_damaged},
        {"a size marked for ZIP64 with no block in the directory",
         patched(central + 66 + 24, 0xFFFFFFFFu, 4),
         {all[0]},
         ZipStop::directory_damaged},
        {"a ZIP64 locator pointing nowhere",
         [&] {
             std::string bytes = build_zip(three, {.zip64_end = true});
             set_le(bytes, bytes.size() - 22 - 20 + 8, 0x7FFFFFFFFFFFull, 8);
             return bytes;
         }(),
         all, ZipStop::directory_read},
        {"a ZIP64 record with a count past what its size holds",
         [&] {
             std::string bytes = build_zip(three, {.zip64_end = true});
             set_le(bytes, bytes.size() - 22 - 20 - 56 + 32, UINT64_MAX, 8);
             return bytes;
         }(),
         all, ZipStop::not_a_header},
    };
    for (const auto& c : cases) {
        const ZipWalk w = walk(c.bytes);
        expect_members(w, c.members, c.what);
        EXPECT_EQ(w.stop, c.stop) << c.what;
        EXPECT_EQ(w.whole(), c.stop == ZipStop::directory_read) << c.what;
    }
}

TEST(ZipWalk, ReaderFaultsAndPieceMealReads) {
    const std::string bytes = ARCHIVE(mixed_zip);
    {
        MemoryFile file(bytes);
        file.chunk = 1;
        const ZipWalk w = walk_zip_members(file, bytes.size());
        expect_members(w, mixed_members, "one byte per read");
        EXPECT_EQ(w.stop, ZipStop::directory_read);
    }
    // The moves: to the end record, to the directory; without a directory,
    // back to the start and over each member's data.
    const std::string cut = bytes.substr(0, 162);
    const struct {
        const char* what;
        const std::string& bytes;
        int failing_seek;
        std::size_t listed;
    } seeks[] = {{"to the end record", bytes, 1, 0},
                 {"to the directory", bytes, 2, 0},
                 {"back to the start", cut, 2, 0},
                 {"over the first member's data", cut, 3, 1},
                 {"over the third member's data", cut, 4, 3}};
    for (const auto& s : seeks) {
        MemoryFile file(s.bytes);
        file.fail_seek_at = s.failing_seek;
        const ZipWalk w = walk_zip_members(file, s.bytes.size());
        expect_members(w, {mixed_members.begin(), mixed_members.begin() + long(s.listed)}, s.what);
        EXPECT_EQ(w.stop, ZipStop::seek_failed) << s.what;
        EXPECT_EQ(w.message, "\nSeek Error") << s.what;
    }
    // Reads: the first bytes, the end record's region, the directory.
    const struct {
        int failing_read;
        ZipStop stop;
    } reads[] = {{1, ZipStop::not_an_archive}, {2, ZipStop::read_error}, {3, ZipStop::read_error}};
    for (const auto& r : reads) {
        MemoryFile file(bytes);
        file.fail_read_at = r.failing_read;
        const ZipWalk w = walk_zip_members(file, bytes.size());
        const std::string what = "read " + std::to_string(r.failing_read) + " fails";
        expect_members(w, {}, what);
        EXPECT_EQ(w.stop, r.stop) << what;
    }
    // The file is shorter than its record said.
    MemoryFile shrunk(bytes.substr(0, 300));
    EXPECT_EQ(walk_zip_members(shrunk, bytes.size()).stop, ZipStop::read_error);
}

TEST(ZipWalk, MembersHandedOverOneByOne) {
    const std::string bytes = ARCHIVE(mixed_zip);
    MemoryFile file(bytes);
    std::vector<std::string> names;
    const ZipWalk w =
        walk_zip_members(file, bytes.size(), [&](const ZipMember& m) { names.push_back(m.name); });
    EXPECT_TRUE(w.members.empty());
    EXPECT_EQ(w.count, 4u);
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.txt", "dir/", "dir/b.log", "\xc3\xa9t\xc3\xa9.txt"}));
}

TEST(ZipWalk, Messages) {
    const std::string m = zip_open_failure_message("C:\\in\\a.zip");
    EXPECT_EQ(m.rfind("\nLine: ", 0), 0u);
    const std::string tail =
        " Source file: d_zip_proc_64: Ziplog check, can't open file :\nC:\\in\\a.zip\n";
    ASSERT_GT(m.size(), tail.size());
    EXPECT_EQ(m.substr(m.size() - tail.size()), tail);
    const std::string number = m.substr(7, m.size() - tail.size() - 7);
    EXPECT_FALSE(number.empty());
    EXPECT_TRUE(
        std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }));
    EXPECT_EQ(zip_damaged_message("/in/a\nb.zip"),
              "\nZiplog check, archive cannot be read whole, members may be missing: "
              "/in/a?b.zip\n");
}

TEST(ZipMemberName, Utf8WhenFlaggedOrValidElseCodePage437) {
    const struct {
        const char* what;
        std::string bytes;
        std::uint16_t flags;
        std::u16string name;
    } cases[] = {
        {"ASCII", "dir/a.txt", 0, u"dir/a.txt"},
        {"UTF-8, flagged", "\xC3\xA9t\xC3\xA9", 0x800, u"\u00E9t\u00E9"},
        {"UTF-8 without the flag, as zip on Linux writes it", "\xC3\xA9t\xF0\x9F\x98\x80", 0,
         u"\u00E9t\U0001F600"},
        {"code page 437",
         "Gr\x94\xE1"
         "e \x9C\xAB.txt",
         0, u"Gr\u00F6\u00DFe \u00A3\u00BD.txt"},
        {"the ends of the table", "\x80\xB0\xDB\xE0\xFF", 0, u"\u00C7\u2591\u2588\u03B1\u00A0"},
        {"a lead byte with no continuation is 437", "\xC3(", 0, u"\u251C("},
        {"flagged but not UTF-8: each bad byte kept", "a\xFF", 0x800, u"a\xDCFF"},
        {"a NUL is kept", std::string("a\0b", 3), 0, std::u16string(u"a\0b", 3)},
    };
    for (const auto& c : cases) {
        ZipMember m;
        m.name = c.bytes;
        m.flags = c.flags;
        EXPECT_EQ(zip_member_name(m), c.name) << c.what;
    }
}

TEST(ZipMemberTime, RealMomentsOnly) {
    const struct {
        std::uint16_t date, time;
        bool real;
    } cases[] = {
        {kDate, kTime, true},
        {0, 0, false},               // no date stored
        {0x0021, 0, true},           // 1980-01-01 00:00:00
        {0x5021, 0, true},           // 2020-01-01
        {0x505D, 0, true},           // 2020-02-29, a leap year
        {0x425D, 0, false},          // 2013-02-29
        {0x2A5E, 0, false},          // 2001-02-30
        {0x2BA1, 0, false},          // month 13
        {kDate, (24 << 11), false},  // hour 24
        {kDate, (23 << 11) | (60 << 5), false},
        {kDate, (23 << 11) | (59 << 5) | 29, true},  // 23:59:58
        {kDate, 30, false},                          // 60 seconds
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_real_moment(decode_dos_date_time(c.date, c.time)), c.real)
            << std::hex << c.date << " " << c.time;
}

// Mutated archives: whatever the bytes, the walk ends, reads a bounded
// number of bytes and writes each member as one line.
TEST(ZipWalk, MutatedArchivesAlwaysEnd) {
    const std::vector<std::string> seeds = {
        ARCHIVE(mixed_zip), ARCHIVE(zip64_zip), ARCHIVE(descriptor_zip),
        build_zip(streamed, {.zip64_end = true}), build_zip(streamed, {.directory = false})};
    std::mt19937 random(20240704u);
    const auto below = [&](std::size_t n) {
        return n == 0 ? std::size_t{0} : static_cast<std::size_t>(random() % n);
    };
    const std::uint32_t lengths[] = {0,      1,       2,          29,         30,
                                     0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
    const char* signatures[] = {"PK\x03\x04", "PK\x01\x02", "PK\x05\x06", "PK\x06\x06",
                                "PK\x06\x07"};
    ZipLineLayout layout;
    layout.time_type = '3';
    layout.short_names = layout.long_name = layout.extension = true;
    std::uint64_t total_listed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = seeds[below(seeds.size())];
        const int mutations = 1 + static_cast<int>(below(4));
        for (int k = 0; k < mutations && !bytes.empty(); ++k) {
            switch (below(4)) {
                case 0:  // flip bits of a byte
                    bytes[below(bytes.size())] ^= static_cast<char>(1 + below(255));
                    break;
                case 1:  // cut the file
                    bytes.resize(below(bytes.size() + 1));
                    break;
                case 2: {  // a length, count or offset made extreme or random
                    const std::size_t at = below(bytes.size());
                    const std::uint32_t v = below(2) ? lengths[below(std::size(lengths))]
                                                     : static_cast<std::uint32_t>(random());
                    const std::size_t width = below(2) ? 2 : 4;
                    for (std::size_t i = 0; i < width && at + i < bytes.size(); ++i)
                        bytes[at + i] = static_cast<char>(v >> (8 * i));
                    break;
                }
                default: {  // a signature planted anywhere
                    const std::size_t at = below(bytes.size());
                    const char* sig = signatures[below(std::size(signatures))];
                    for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
                        bytes[at + i] = sig[i];
                }
            }
        }
        MemoryFile file(bytes);
        file.chunk = 1 + below(64);
        // Sometimes the size told is not the size found.
        std::uint64_t told = bytes.size();
        if (below(8) == 0) told = below(bytes.size() + 100);
        const ZipWalk w = walk_zip_members(file, told);
        ASSERT_EQ(w.count, w.members.size());
        // Each member takes a directory entry of 46 bytes or a local
        // header of 31 at least.
        ASSERT_LE(w.count, told / 31);
        // The first bytes, the end region, the directory and the few
        // records a lying end record points to.
        ASSERT_LE(file.delivered, 4 + 3 * told + 132 * (told / 4 + 1));
        ASSERT_EQ(w.message.empty(), w.stop != ZipStop::seek_failed);
        for (const ZipMember& m : w.members) {
            const std::string line = format_zip_member_line(layout, "f>>" + m.name, m.name, m);
            ASSERT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
            ASSERT_EQ(line.back(), '\n');
        }
        total_listed += w.count;
    }
    // The mutations leave many archives partly whole: members were seen.
    EXPECT_GT(total_listed, 10000u);
}

// The member line under the settings that shape it. The member is a.txt of
// "mixed" (3 bytes, 2001-02-01 13:05:08), the name column "z>>a.txt".
TEST(ZipMemberLine, ColumnsFollowTheSettings) {
    const ZipWalk w = walk(ARCHIVE(mixed_zip));
    ASSERT_EQ(w.members.size(), 4u);
    const ZipMember& a = w.members[0];
    const std::string name = "z>>a.txt   ";  // width 10 and the delimiter
    const std::string size = " " + blanks(19) + "3 ";
    const std::string attrs = "...... ";
    const std::string no_time = blanks(25);  // date, time and seconds blank
    const struct {
        const char* what;
        ZipLineLayout layout;
        std::string expected;
    } cases[] = {
        {"write time, the default",
         {.width = 10},
         name + size + attrs + "02/01/2001 13:05  " + "    " + "\n"},
        {"REVERSE with seconds",
         {.width = 10, .seconds = true, .reverse = true},
         name + size + attrs + "2001/02/01 13:05:08w     " + "    " + "\n"},
        {"all three times, fixed, CRC",
         {.width = 10, .fixed = true, .crc = true, .time_type = '3'},
         name + size + attrs + blanks(5) + blanks(10) + no_time + "02/01/2001 13:05:08w     " +
             no_time + "    " + blanks(14) + "\n"},
        {"creation time only",
         {.width = 10, .time_type = 'c'},
         name + size + attrs + blanks(18) + "    " + "\n"},
        {"access time only, upper case",
         {.width = 10, .time_type = 'A'},
         name + size + attrs + blanks(18) + "    " + "\n"},
        {"no times, an output file and fixed",
         {.width = 10, .fixed = true, .time_type = '0', .output = true},
         name + size + attrs + blanks(5) + blanks(11) + blanks(59) + blanks(14) + "\n"},
        {"no times and fixed, without an output file",
         {.width = 10, .fixed = true, .time_type = '0'},
         name + size + attrs + blanks(5) + blanks(11) + blanks(14) + "\n"},
        {"category, MD5 and owner",
         {.width = 10, .category = true, .md5 = true, .time_type = '0', .owner = true},
         name + size + attrs + blanks(5) + blanks(34) + blanks(34) + "\n"},
        {"MD5 and CRC give one column",
         {.width = 10, .md5 = true, .crc = true, .time_type = '0'},
         name + size + attrs + blanks(34) + "\n"},
        {"comment and a comma delimiter",
         {.delimiter = ',', .comment = true, .comment_text = "PC1", .width = 10},
         "PC1,z>>a.txt  , " + blanks(19) + "3,......,02/01/2001,13:05 ,   ,\n"},
        {"a column narrower than the name",
         {.width = 5, .time_type = '0'},
         "z>>a. " + size + attrs + "\n"},
        {"long name and extension",
         {.width = 10,
          .time_type = '0',
          .short_names = true,
          .long_name = true,
          .extension = true,
          .long_name_width = 8},
         name + size + attrs + " A.TXT    " + "   TXT " + "\n"},
        {"extension without the long name keeps its case",
         {.width = 10, .time_type = '0', .short_names = true, .extension = true},
         name + size + attrs + "   txt " + "\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_zip_member_line(c.layout, "z>>a.txt", "a.txt", a), c.expected) << c.what;
}

ZipMember member_sized(std::uint64_t size, std::uint16_t date = kDate, std::uint16_t time = kTime) {
    ZipMember m;
    m.uncompressed_size = m.compressed_size = size;
    m.dos_date = date;
    m.dos_time = time;
    return m;
}

TEST(ZipMemberLine, NamesSizesAndDates) {
    const ZipLineLayout names{.width = 12,
                              .time_type = '0',
                              .short_names = true,
                              .long_name = true,
                              .extension = true,
                              .long_name_width = 12};
    const ZipLineLayout reverse{.width = 4, .seconds = true, .reverse = true};
    const ZipLineLayout plain{.width = 4, .time_type = '0'};
    const struct {
        const char* what;
        ZipLineLayout layout;
        std::string column;
        std::string name;
        ZipMember member;
        std::string expected;
    } cases[] = {
        {"control characters and NUL become '?'", names, std::string("a>>b\tc\x01\x7f", 8),
         std::string("x\ny\0.\x1ftx", 8), member_sized(0),
         "a>>b?c??    " + blanks(2) + blanks(19) + "0 ...... " + " X?Y?.?TX     " + "   ?TX \n"},
        {"a dot only in the first place gives no extension", names, "a>>.profile", ".profile",
         member_sized(0),
         "a>>.profile " + blanks(2) + blanks(19) + "0 ...... " + " .PROFILE     " + blanks(7) +
             "\n"},
        {"no dot: no extension", names, "a>>README", "README", member_sized(0),
         "a>>README   " + blanks(2) + blanks(19) + "0 ...... " + " README       " + blanks(7) +
             "\n"},
        {"the extension is the text after the last dot, cut to six", names, "a>>x",
         "v1.2/archive.backup-old", member_sized(0),
         "a>>x        " + blanks(2) + blanks(19) + "0 ...... " + " V1.2/ARCHIVE" + " BACKUP \n"},
        {"a size beyond 4 GiB", plain, "a>>b", "b", member_sized(5000000000ull),
         "a>>b  " + blanks(10) + "5000000000 ...... \n"},
        {"the largest ZIP64 size, as stored", plain, "a>>b", "b", member_sized(UINT64_MAX),
         "a>>b  18446744073709551615 ...... \n"},
        {"an end-of-year date and time", reverse, "a>>b", "b", member_sized(0, 0x279f, 0xbf7d),
         "a>>b  " + blanks(19) + "0 ...... 1999/12/31 23:59:58w         \n"},
        {"a date of zeros is printed as stored",
         {.width = 4},
         "a>>b",
         "b",
         member_sized(0, 0, 0),
         "a>>b  " + blanks(19) + "0 ...... 00/00/1980 00:00      \n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_zip_member_line(c.layout, c.column, c.name, c.member), c.expected)
            << c.what;
}

}  // namespace
