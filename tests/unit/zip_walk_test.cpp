// The local-header walk over real archives, hand-made damaged ones and
// mutated ones, and the member line under the record settings.
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

std::vector<unsigned char> bytes_of(const unsigned char* data, std::size_t size) {
    return std::vector<unsigned char>(data, data + size);
}
#define ARCHIVE(name) bytes_of(name, sizeof name)

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

// A file in memory. It may hand out fewer bytes per read than asked, fail
// a read or every seek, and counts what it delivered.
class MemoryFile : public platform::InputFile {
public:
    explicit MemoryFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
    long long read(void* buffer, std::size_t size) override {
        if (++reads_ == fail_read_at) return -1;
        if (position_ >= bytes_.size()) return 0;
        const std::size_t n =
            std::min({size, bytes_.size() - static_cast<std::size_t>(position_), chunk});
        std::copy_n(bytes_.data() + position_, n, static_cast<unsigned char*>(buffer));
        position_ += n;
        delivered += n;
        return static_cast<long long>(n);
    }
    bool seek(std::uint64_t offset) override {
        if (fail_seek) return false;
        position_ = offset;  // past the end is allowed, as on a disk file
        return true;
    }
    std::optional<platform::FileState> state() override {
        return platform::FileState{bytes_.size(), 0};
    }
    std::size_t chunk = SIZE_MAX;
    int fail_read_at = 0;
    bool fail_seek = false;
    std::uint64_t delivered = 0;

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t position_ = 0;
    int reads_ = 0;
};

ZipWalk walk(const std::vector<unsigned char>& bytes) {
    MemoryFile file(bytes);
    return walk_zip_members(file, bytes.size());
}

void put16(std::vector<unsigned char>& out, unsigned v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void put64(std::vector<unsigned char>& out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v));
    put32(out, static_cast<std::uint32_t>(v >> 32));
}

// A local header written by hand, for what no archiver writes.
struct Local {
    std::string name{};
    std::string data{};
    std::uint16_t flags = 0;
    std::uint32_t compressed = 0xFFFFFFFEu;  // default: the data's length
    std::uint32_t uncompressed = 0xFFFFFFFEu;
    std::vector<unsigned char> extra{};
    int name_length = -1;  // default: the name's length
    int extra_length = -1;
};

void append_local(std::vector<unsigned char>& out, const Local& m) {
    out.insert(out.end(), {'P', 'K', 3, 4});
    put16(out, 20);
    put16(out, m.flags);
    put16(out, 0);
    put16(out, 0x68a4);
    put16(out, 0x2a41);
    put32(out, 0);
    const auto size = static_cast<std::uint32_t>(m.data.size());
    put32(out, m.compressed == 0xFFFFFFFEu ? size : m.compressed);
    put32(out, m.uncompressed == 0xFFFFFFFEu ? size : m.uncompressed);
    put16(out, m.name_length < 0 ? static_cast<unsigned>(m.name.size()) : unsigned(m.name_length));
    put16(out,
          m.extra_length < 0 ? static_cast<unsigned>(m.extra.size()) : unsigned(m.extra_length));
    out.insert(out.end(), m.name.begin(), m.name.end());
    out.insert(out.end(), m.extra.begin(), m.extra.end());
    out.insert(out.end(), m.data.begin(), m.data.end());
}

std::vector<unsigned char> archive_of(const std::vector<Local>& members) {
    std::vector<unsigned char> out;
    for (const Local& m : members) append_local(out, m);
    return out;
}

std::vector<unsigned char> zip64_block(std::uint64_t uncompressed, std::uint64_t compressed) {
    std::vector<unsigned char> out;
    put16(out, 0x0001);
    put16(out, 16);
    put64(out, uncompressed);
    put64(out, compressed);
    return out;
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
    std::uint16_t method;
    std::uint16_t flags;
    std::string when;
};

void expect_members(const ZipWalk& w, const std::vector<Expected>& expected, const char* what) {
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
    {"a.txt", 0, 3, 3, 0, 0, "2001-02-01 13:05:08"},
    {"dir/", 38, 0, 0, 0, 0, "1999-12-31 23:59:58"},
    {"dir/b.log", 72, 11, 24, 8, 0, "2024-07-04 08:30:00"},
    {"\xc3\xa9t\xc3\xa9.txt", 122, 1, 1, 0, 0x800, "2010-10-10 10:10:10"},
};

TEST(ZipWalk, ArchivesAsArchiversWriteThem) {
    std::vector<unsigned char> pk_only = {'P', 'K', ' ', 'i', 's', ' ', 'n', 'o', 't', ' ', 'a',
                                          'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e', ',', ' ',
                                          'o', 'n', 'l', 'y', ' ', 't', 'e', 'x', 't', '.', '\n'};
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        std::vector<Expected> members;
        ZipStop stop;
    } cases[] = {
        {"stored, deflated, directory and UTF-8 members", ARCHIVE(mixed_zip), mixed_members,
         ZipStop::not_a_header},
        {"ZIP64 sizes from the extra field",
         ARCHIVE(zip64_zip),
         {{"big.bin", 0, 10, 10, 0, 0, "2001-02-01 13:05:08"},
          {"after.txt", 67, 2, 2, 0, 0, "2001-02-01 13:05:08"}},
         ZipStop::not_a_header},
        {"an empty archive is its end record", ARCHIVE(empty_zip), {}, ZipStop::not_a_header},
        {"sizes in a data descriptor: listed with size 0, then the walk ends",
         ARCHIVE(descriptor_zip),
         {{"first.txt", 0, 0, 0, 8, 8, "2001-02-01 13:05:08"}},
         ZipStop::sizes_in_descriptor},
        {"a text that begins with PK", pk_only, {}, ZipStop::not_a_header},
        {"a file of 0 bytes", {}, {}, ZipStop::end_of_file},
        {"a file shorter than a header", {'P', 'K', 3, 4, 0}, {}, ZipStop::short_header},
        {"a short text", {'h', 'e', 'l', 'l', 'o'}, {}, ZipStop::not_a_header},
    };
    for (const auto& c : cases) {
        const ZipWalk w = walk(c.bytes);
        expect_members(w, c.members, c.what);
        EXPECT_EQ(w.stop, c.stop) << c.what;
        EXPECT_EQ(w.message, "") << c.what;
    }
}

TEST(ZipWalk, TruncatedArchivesEndBeforeTheMemberThatIsCut) {
    // In "mixed", dir/b.log's header spans 72-101, its name 102-110, its
    // data 111-121; the last member ends at 162.
    const std::vector<Expected> first_two(mixed_members.begin(), mixed_members.begin() + 2);
    const std::vector<Expected> first_three(mixed_members.begin(), mixed_members.begin() + 3);
    const struct {
        std::size_t length;
        std::vector<Expected> members;
        ZipStop stop;
    } cases[] = {
        {20, {}, ZipStop::short_header},
        {36, {}, ZipStop::data_past_end},
        {100, first_two, ZipStop::short_header},
        {108, first_two, ZipStop::name_past_end},
        {115, first_two, ZipStop::data_past_end},
        {122, first_three, ZipStop::end_of_file},
        {155, first_three, ZipStop::name_past_end},
        {162, mixed_members, ZipStop::end_of_file},
        {164, mixed_members, ZipStop::short_header},
        {165, mixed_members, ZipStop::not_a_header},
    };
    const std::vector<unsigned char> whole = ARCHIVE(mixed_zip);
    for (const auto& c : cases) {
        const std::vector<unsigned char> cut(whole.begin(), whole.begin() + c.length);
        const ZipWalk w = walk(cut);
        const std::string what = "cut at " + std::to_string(c.length);
        expect_members(w, c.members, what.c_str());
        EXPECT_EQ(w.stop, c.stop) << what;
    }
}

TEST(ZipWalk, FieldsThatNoArchiverWrites) {
    std::vector<unsigned char> timestamp_then_zip64 = {0x55, 0x54, 5, 0, 1, 0, 0, 0, 0};
    const std::vector<unsigned char> block = zip64_block(5000000000ull, 7);
    timestamp_then_zip64.insert(timestamp_then_zip64.end(), block.begin(), block.end());
    const std::string long_name = "deep/" + std::string(3000, 'n') + ".txt";
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        std::vector<Expected> members;
        ZipStop stop;
    } cases[] = {
        {"a name of 3,009 bytes is kept whole",
         archive_of({{.name = long_name, .data = "x"}, {.name = "next", .data = ""}}),
         {{long_name, 0, 1, 1, 0, 0, "2001-02-01 13:05:08"},
          {"next", 3040, 0, 0, 0, 0, "2001-02-01 13:05:08"}},
         ZipStop::end_of_file},
        {"the ZIP64 block found behind another block",
         archive_of({{.name = "big",
                      .data = "1234567",
                      .compressed = 0xFFFFFFFFu,
                      .uncompressed = 0xFFFFFFFFu,
                      .extra = timestamp_then_zip64}}),
         {{"big", 0, 7, 5000000000ull, 0, 0, "2001-02-01 13:05:08"}},
         ZipStop::end_of_file},
        {"sizes marked for ZIP64 with no block to hold them",
         archive_of({{.name = "big",
                      .data = "1234567",
                      .compressed = 0xFFFFFFFFu,
                      .uncompressed = 0xFFFFFFFFu}}),
         {},
         ZipStop::zip64_sizes_missing},
        {"a ZIP64 block that reaches past its extra field",
         archive_of({{.name = "big",
                      .data = "1234567",
                      .compressed = 0xFFFFFFFFu,
                      .uncompressed = 0xFFFFFFFFu,
                      .extra = {1, 0, 16, 0, 7, 0, 0, 0}}}),
         {},
         ZipStop::zip64_sizes_missing},
        {"a name length of 0", archive_of({{.name = "", .data = "abc"}}), {}, ZipStop::empty_name},
        {"a name length past the end",
         archive_of({{.name = "abc", .name_length = 60000}}),
         {},
         ZipStop::name_past_end},
        {"an extra length past the end",
         archive_of({{.name = "abc", .extra_length = 60000}}),
         {},
         ZipStop::extra_past_end},
        {"a compressed size past the end",
         archive_of({{.name = "a", .data = "1"}, {.name = "b", .data = "22", .compressed = 3}}),
         {{"a", 0, 1, 1, 0, 0, "2001-02-01 13:05:08"}},
         ZipStop::data_past_end},
        {"a compressed size of 4 GiB - 1 in a small archive",
         archive_of({{.name = "b", .data = "22", .compressed = 0xFFFFFFFFu}}),
         {},
         ZipStop::zip64_sizes_missing},
        {"flag bit 3 with the sizes in the header as well: the walk goes on",
         archive_of({{.name = "a", .data = "xyz", .flags = 8}, {.name = "b", .data = ""}}),
         {{"a", 0, 3, 3, 0, 8, "2001-02-01 13:05:08"},
          {"b", 34, 0, 0, 0, 0, "2001-02-01 13:05:08"}},
         ZipStop::end_of_file},
    };
    for (const auto& c : cases) {
        const ZipWalk w = walk(c.bytes);
        expect_members(w, c.members, c.what);
        EXPECT_EQ(w.stop, c.stop) << c.what;
    }
}

TEST(ZipWalk, TheCentralDirectoryIsNeverTakenForAMember) {
    // The first central record, read as a local header, has the upper half
    // of its uncompressed size where the name length would be: with a size
    // of 64 KiB or more it would give a member of its own.
    std::vector<unsigned char> bytes = ARCHIVE(mixed_zip);
    const std::size_t central = 162;
    ASSERT_EQ(bytes[central + 2], 1);
    bytes[central + 26] = 5;  // an uncompressed size of 0x00050003
    const ZipWalk w = walk(bytes);
    expect_members(w, mixed_members, "patched central record");
    EXPECT_EQ(w.stop, ZipStop::not_a_header);
}

TEST(ZipWalk, ReaderFaultsAndPieceMealReads) {
    const std::vector<unsigned char> bytes = ARCHIVE(mixed_zip);
    {
        MemoryFile file(bytes);
        file.chunk = 1;
        const ZipWalk w = walk_zip_members(file, bytes.size());
        expect_members(w, mixed_members, "one byte per read");
        EXPECT_EQ(w.stop, ZipStop::not_a_header);
    }
    {
        MemoryFile file(bytes);
        file.fail_seek = true;
        const ZipWalk w = walk_zip_members(file, bytes.size());
        expect_members(w, {mixed_members[0]}, "failed skip");
        EXPECT_EQ(w.stop, ZipStop::seek_failed);
        EXPECT_EQ(w.message, "\nSeek Error");
    }
    const struct {
        int failing_read;
        std::size_t listed;
    } reads[] = {{1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 2}, {6, 2}, {7, 3}, {8, 3}, {9, 4}};
    for (const auto& r : reads) {
        MemoryFile file(bytes);
        file.fail_read_at = r.failing_read;
        const ZipWalk w = walk_zip_members(file, bytes.size());
        const std::vector<Expected> listed(mixed_members.begin(), mixed_members.begin() + r.listed);
        const std::string what = "read " + std::to_string(r.failing_read) + " fails";
        expect_members(w, listed, what.c_str());
        EXPECT_EQ(w.stop, ZipStop::read_error) << what;
    }
}

TEST(ZipWalk, MembersHandedOverOneByOne) {
    const std::vector<unsigned char> bytes = ARCHIVE(mixed_zip);
    MemoryFile file(bytes);
    std::vector<std::string> names;
    const ZipWalk w =
        walk_zip_members(file, bytes.size(), [&](const ZipMember& m) { names.push_back(m.name); });
    EXPECT_TRUE(w.members.empty());
    EXPECT_EQ(w.count, 4u);
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.txt", "dir/", "dir/b.log", "\xc3\xa9t\xc3\xa9.txt"}));
}

TEST(ZipWalk, OpenFailureMessage) {
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
}

// Mutated archives: whatever the bytes, the walk ends, moves only forward,
// lists nothing outside the file and reads no byte twice.
TEST(ZipWalk, MutatedArchivesAlwaysEnd) {
    const std::vector<std::vector<unsigned char>> seeds = {
        ARCHIVE(mixed_zip), ARCHIVE(zip64_zip), ARCHIVE(descriptor_zip), ARCHIVE(empty_zip)};
    std::mt19937 random(20240704u);
    const auto below = [&](std::size_t n) {
        return n == 0 ? std::size_t{0} : static_cast<std::size_t>(random() % n);
    };
    const std::uint32_t lengths[] = {0,      1,       2,          29,         30,
                                     0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
    ZipLineLayout layout;
    layout.time_type = '3';
    layout.short_names = layout.long_name = layout.extension = true;
    std::uint64_t total_listed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<unsigned char> bytes = seeds[below(seeds.size())];
        const int mutations = 1 + static_cast<int>(below(4));
        for (int k = 0; k < mutations && !bytes.empty(); ++k) {
            switch (below(4)) {
                case 0:  // flip bits of a byte
                    bytes[below(bytes.size())] ^= static_cast<unsigned char>(1 + below(255));
                    break;
                case 1:  // cut the file
                    bytes.resize(below(bytes.size() + 1));
                    break;
                case 2: {  // a length field of a header made extreme or random
                    const std::size_t at = below(bytes.size());
                    const std::uint32_t v = below(2) ? lengths[below(std::size(lengths))]
                                                     : static_cast<std::uint32_t>(random());
                    const std::size_t width = below(2) ? 2 : 4;
                    for (std::size_t i = 0; i < width && at + i < bytes.size(); ++i)
                        bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
                    break;
                }
                default: {  // a local-header signature planted anywhere
                    const std::size_t at = below(bytes.size());
                    const unsigned char sig[] = {'P', 'K', 3, 4};
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
        ASSERT_LE(w.count, bytes.size() / 31);
        ASSERT_LE(file.delivered, bytes.size());
        ASSERT_EQ(w.message.empty(), w.stop != ZipStop::seek_failed);
        std::uint64_t previous_end = 0;
        for (const ZipMember& m : w.members) {
            ASSERT_GE(m.header_offset, previous_end);
            const std::uint64_t data = m.header_offset + 30 + m.name.size();
            ASSERT_LE(data + m.compressed_size, told);
            ASSERT_FALSE(m.name.empty());
            previous_end = data + m.compressed_size;
            const std::string line = format_zip_member_line(layout, "f>>" + m.name, m);
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
        EXPECT_EQ(format_zip_member_line(c.layout, "z>>a.txt", a), c.expected) << c.what;
}

ZipMember member_named(std::string name, std::uint64_t size = 0, std::uint16_t date = 0x2a41,
                       std::uint16_t time = 0x68a4) {
    ZipMember m;
    m.name = std::move(name);
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
    const struct {
        const char* what;
        ZipLineLayout layout;
        std::string column;
        ZipMember member;
        std::string expected;
    } cases[] = {
        {"control characters become '?'", names, std::string("a>>b\tc\x01\x7f", 8),
         member_named(std::string("x\ny\0.\x1ftx", 8)),
         "a>>b?c??    " + blanks(2) + blanks(19) + "0 ...... " + " X?Y?.?TX     " + "   ?TX \n"},
        {"a dot only in the first place gives no extension", names, "a>>.profile",
         member_named(".profile"),
         "a>>.profile " + blanks(2) + blanks(19) + "0 ...... " + " .PROFILE     " + blanks(7) +
             "\n"},
        {"no dot: no extension", names, "a>>README", member_named("README"),
         "a>>README   " + blanks(2) + blanks(19) + "0 ...... " + " README       " + blanks(7) +
             "\n"},
        {"the extension is the text after the last dot, cut to six", names, "a>>x",
         member_named("v1.2/archive.backup-old"),
         "a>>x        " + blanks(2) + blanks(19) + "0 ...... " + " V1.2/ARCHIVE" + " BACKUP \n"},
        {"a size beyond 4 GiB",
         {.width = 4, .time_type = '0'},
         "a>>b",
         member_named("b", 5000000000ull),
         "a>>b  " + blanks(10) + "5000000000 ...... \n"},
        {"an end-of-year date and time", reverse, "a>>b", member_named("b", 0, 0x279f, 0xbf7d),
         "a>>b  " + blanks(19) + "0 ...... 1999/12/31 23:59:58w         \n"},
        {"a date of zeros is printed as stored",
         {.width = 4},
         "a>>b",
         member_named("b", 0, 0, 0),
         "a>>b  " + blanks(19) + "0 ...... 00/00/1980 00:00      \n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_zip_member_line(c.layout, c.column, c.member), c.expected) << c.what;
}

}  // namespace
