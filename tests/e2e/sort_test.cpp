// End-to-end: listings sorted by each key letter, in both directions and
// with several keys, compared with GNU sort on the same columns of the
// unsorted listing.
#include "e2e_support.hpp"

namespace {

using e2e::read_file;

using e2e::run;
using e2e::TempTree;

// The lines after the column titles.
std::string records_of(const std::string& listing) {
    const std::size_t header = listing.find("\n  PATH");
    if (header == std::string::npos) return {};
    return listing.substr(listing.find('\n', header + 1) + 1);
}

std::string gnu_sort(const std::string& input_path, const std::string& keys) {
    const std::string command = "LC_ALL=C sort -t '\t' " + keys + " '" + input_path + "'";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char block[4096];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, p)) > 0;) out.append(block, n);
        ::pclose(p);
    }
    return out;
}

// Columns (1-based) of a listing with the CRC column: path 1-54, size
// 56-76, CRC 87-96, then the write time: month 98, day 101, year 104, time 109.
struct KeyRow {
    const char* keys;
    const char* gnu;
};

const KeyRow kRows[] = {
    {"n", "-k1.1,1.54f"},
    {"N", "-k1.1,1.54fr"},
    {"s", "-k1.56,1.76n -k1.1,1.54f"},
    {"S", "-k1.56,1.76nr -k1.1,1.54fr"},
    {"c", "-k1.87,1.96f"},
    {"C", "-k1.87,1.96fr"},
    {"d", "-k1.101,1.102r"},
    {"D", "-k1.101,1.102"},
    {"m", "-k1.98,1.99r -k1.101,1.102r"},
    {"M", "-k1.98,1.99 -k1.101,1.102"},
    {"y", "-k1.104,1.107r -k1.98,1.99r -k1.101,1.102r -k1.109,1.113r"},
    {"Y", "-k1.104,1.107 -k1.98,1.99 -k1.101,1.102 -k1.109,1.113"},
    {"h", "-k1.109,1.113"},
    {"H", "-k1.109,1.113r"},
    {"sN", "-k1.56,1.76n -k1.1,1.54f"},
    {"dS", "-k1.101,1.102r -k1.56,1.76nr -k1.1,1.54fr"},
    {"Mhn", "-k1.98,1.99 -k1.101,1.102 -k1.109,1.113 -k1.1,1.54f"},
};

TEST(Sort, EachKeyOrdersTheRecordsAsGnuSortDoes) {
    TempTree t;
    // Names without the characters between Z and a, which the two tools
    // fold to different cases.
    const char* names[] = {"alpha.txt",   "Bravo.txt",   "charlie.txt", "Delta.log",
                           "echo.txt",    "sub/Fox.txt", "sub/golf",    "sub/HOTEL",
                           "sub/india.c", "juliet",      "Kilo.TXT",    "lima.txt"};
    const std::time_t day = 86400;
    for (int i = 0; i < 12; ++i) {
        t.file(std::string("tree/") + names[i], std::string(std::size_t(i % 4) * 7 + 1, 'a' + i));
        t.stamp(std::string("tree/") + names[i],
                e2e::kStamp - (i * 37 % 11) * day * 29 - (i * 5 % 7) * 3600 - i * 60);
    }
    const std::string work = t.dir("work");
    const auto base = run({t.path("tree"), "-c", "-o", "base.txt", "-y0"}, work);
    ASSERT_EQ(base.status, 1) << base.err;
    const std::string unsorted = records_of(read_file(work + "/base.txt"));
    ASSERT_EQ(std::count(unsorted.begin(), unsorted.end(), '\n'), 12) << unsorted;
    std::ofstream(work + "/records.txt", std::ios::binary) << unsorted;

    for (const KeyRow& row : kRows) {
        const auto r =
            run({t.path("tree"), "-c", "-o", "list.txt", std::string("-y") + row.keys}, work);
        ASSERT_EQ(r.status, 1) << r.err;
        const std::string listing = read_file(work + "/list.txt");
        EXPECT_EQ(listing.rfind("\nStarted ", 0), 0u) << listing;
        EXPECT_EQ(records_of(listing), gnu_sort(work + "/records.txt", row.gnu)) << row.keys;
    }
    // Nothing but the listings is left beside them.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(work)) files += entry.exists();
    EXPECT_EQ(files, 3u);
}

}  // namespace
