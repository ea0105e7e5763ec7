// The listing sort: each key letter in both directions, several keys each
// with its own steps, the lines around the records kept in place, merges in
// small memory, variable-width records, and failures that leave the listing
// whole.
#include "catalogue/sort.hpp"

#include <gtest/gtest.h>

#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

const std::u16string kList = u"C:\\out\\list.txt";

// The first letter of each record's file name, in listing order.
std::string name_letters(const std::string& listing) {
    std::string letters;
    for (const std::string& line : file_records(listing)) {
        const std::size_t slash = line.find_last_of('\\', 54);
        letters += line.at(slash + 1);
    }
    return letters;
}

struct KeyRow {
    const char16_t* keys;
    const char* order;
};

class SortKeys : public ::testing::TestWithParam<KeyRow> {
protected:
    void SetUp() override {
        mp.add_dir(u"C:\\out");
        // Local time is EST: 14:00 UTC is 09:00 on the record.
        mp.add_file(u"C:\\d\\A.txt", "aaaaa", {.write = ticks_from_utc(2023, 12, 31, 14, 0)});
        mp.add_file(u"C:\\d\\b.txt", std::string(30, 'b'),
                    {.write = ticks_from_utc(2024, 3, 5, 15, 0)});
        mp.add_file(u"C:\\d\\c.txt", std::string(200, 'c'),
                    {.write = ticks_from_utc(2024, 3, 1, 16, 0)});
        mp.add_file(u"C:\\d\\D.txt", "ddddd", {.write = ticks_from_utc(2024, 1, 5, 17, 30)});
        mp.add_file(u"C:\\d\\e.txt", "eeeee", {.write = ticks_from_utc(2024, 2, 5, 13, 0)});
        mp.add_file(u"C:\\d\\F.txt", "fff", {.write = ticks_from_utc(2024, 2, 5, 19, 0)});
    }
    MemoryPlatform mp;
};

// Sizes A5 b30 c200 D5 e5 F3; local dates A 12/31/2023 09:00, b 03/05 10:00,
// c 03/01 11:00, D 01/05 12:30, e 02/05 08:00, F 02/05 14:00 (2024); CRCs
// D < F < b < c < A < e. Lines equal on every key keep byte order.
const KeyRow kKeyRows[] = {
    {u"n", "AbcDeF"},
    {u"N", "FeDcbA"},
    {u"x", "AbcDeF"},
    {u"s", "FADebc"},
    {u"S", "cbeDAF"},
    {u"d", "ADFbec"},
    {u"D", "cDFbeA"},
    {u"m", "AbcFeD"},
    {u"M", "DFecbA"},
    {u"y", "bcFeDA"},
    {u"Y", "ADeFcb"},
    {u"h", "eAbcDF"},
    {u"H", "FDcbAe"},
    {u"c", "DFbcAe"},
    {u"C", "eAcbFD"},
    // A later key decides only among lines equal on the earlier ones, and
    // never changes how an earlier key sorts.
    {u"dN", "AFeDbc"},
    {u"ds", "AFDebc"},
    {u"mdS", "AbceFD"},
    {u"Nd", "FeDcbA"},
};

TEST_P(SortKeys, RecordsFollowTheKeys) {
    const KeyRow& row = GetParam();
    const RunResult r = run_in_memory(
        mp, {u"filarix64", u"C:\\d", std::u16string(u"-y") + row.keys}, [](filarix::Run& run) {
            run.s.OUTPUT = ListingOutput::file;
            run.s.output_name = kList;
        });
    EXPECT_EQ(r.code, 1) << r.err;
    const std::string listing = mp.contents(kList).value_or("");
    EXPECT_EQ(name_letters(listing), row.order) << listing;
    // A sorted listing carries no summary, and the work files are gone.
    EXPECT_EQ(listing.find(" directories, "), std::string::npos);
    EXPECT_EQ(mp.node(u"C:\\out")->children.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Letters, SortKeys, ::testing::ValuesIn(kKeyRows));

// A listing made by hand: the start banner, the column titles, records in
// walk order and a run summary.
struct HandListing {
    std::string head, records, summary, sorted;
};

HandListing hand_listing(const std::string& eol) {
    const auto line = [&](const std::string& text) { return text + eol; };
    HandListing l;
    l.head = line("") + line("Started Sun Jan 14 15:42:16 2024 GMT") + line("COMMAND LINE:  x") +
             line("") + line("  PATH" + std::string(48, ' ') + "  SIZE");
    const char* names[] = {"C:\\d\\k.txt", "C:\\d\\B.txt", "C:\\d\\q.txt", "C:\\d\\a.txt",
                           "C:\\d\\Z.txt", "C:\\d\\m.txt", "C:\\d\\c.txt"};
    const long long sizes[] = {70, 5, 900, 5, 12, 70, 1};
    for (int i = 0; i < 7; ++i)
        l.records += line(default_record(names[i], sizes[i], "A.....", "01/01/2024 22:04"));
    for (int i : {6, 3, 1, 4, 0, 5, 2})
        l.sorted += line(default_record(names[i], sizes[i], "A.....", "01/01/2024 22:04"));
    l.summary = line("") + line("  1 directory, 7 files, 1,063 bytes: ") +
                line("  Elapsed:  0 hrs. 0 mins. 0 secs.") + line("") + line("");
    return l;
}

void settle_for_file(Run& run, const std::u16string& keys) {
    apply_start_up_defaults(run.s);
    run.s.OUTPUT = ListingOutput::file;
    run.s.output_name = kList;
    run.s.SORT = 1;
    run.s.sort_keys_given = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        run.s.sort_keys[i] = keys[i];
        run.s.sort_dirs[i] = keys[i] < u'_' ? -1 : 1;
    }
    run.s.sort_keys[keys.size()] = RunSettings::sort_end;
}

struct PlaceRow {
    const char* eol;
    SortLimits limits;
};

class SortInPlace : public ::testing::TestWithParam<PlaceRow> {};

TEST_P(SortInPlace, HeadFirstSummaryLastWorkFilesRemoved) {
    const PlaceRow& row = GetParam();
    MemoryPlatform mp;
    const HandListing l = hand_listing(row.eol);
    mp.add_file(kList, l.head + l.records + l.summary);
    filarix::Run run(mp);
    settle_for_file(run, u"s");
    sort_listing(run, kList, 5, row.limits);
    EXPECT_EQ(mp.contents(kList).value_or(""), l.head + l.sorted + l.summary);
    EXPECT_EQ(mp.node(u"C:\\out")->children.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Memory, SortInPlace,
    ::testing::Values(PlaceRow{"\n", SortLimits{}}, PlaceRow{"\r\n", SortLimits{}},
                      // One record a run, two runs a merge: several merge passes.
                      PlaceRow{"\n", SortLimits{150, 4096, 2, 1}},
                      PlaceRow{"\r\n", SortLimits{300, 4096, 3, 2}},
                      // Runs smaller than one line: the buffer grows to hold it.
                      PlaceRow{"\r\n", SortLimits{16, 64, 2, 1}}));

TEST(SortInPlace, AppendedListingKeepsItsEarlierLinesFirst) {
    MemoryPlatform mp;
    const HandListing l = hand_listing("\n");
    const std::string earlier = "an earlier run's line\n" + l.head + l.records + l.summary;
    mp.add_file(kList, earlier);
    mp.add_file(u"C:\\d\\y.txt", "1");
    mp.add_file(u"C:\\d\\X.txt", "22");
    const RunResult r =
        run_in_memory(mp, {u"filarix64", u"C:\\d", u"-yN", u"-a"}, [](filarix::Run& run) {
            run.s.OUTPUT = ListingOutput::file;
            run.s.output_name = kList;
        });
    EXPECT_EQ(r.code, 1) << r.err;
    const std::string text = mp.contents(kList).value_or("");
    ASSERT_EQ(text.substr(0, earlier.size()), earlier);
    EXPECT_EQ(name_letters(text.substr(earlier.size())), "yX");
}

// Delimited records of variable width: the path may hold the delimiter and
// digits, the size is bare digits, later columns follow the size.
TEST(SortVariable, FieldsFoundPastDelimitersInThePath) {
    MemoryPlatform mp;
    const auto rec = [](const std::string& path, const std::string& size, const std::string& date) {
        return path + "|" + size + "|A......|" + date + "|10:00w|EST|  1234-ABCD|      SYSTEM|\n";
    };
    const std::string p = rec("C:\\v\\p|99|q.txt", "5", "01/02/2024");
    const std::string r = rec("C:\\v\\r.txt", "120", "03/02/2023");
    const std::string s = rec("C:\\v\\S.txt", "9", "12/30/2023");
    const std::string head = "  PATH|  SIZE|\n";
    struct Row {
        const char16_t* keys;
        std::string sorted;
    } rows[] = {{u"s", p + s + r}, {u"S", r + s + p}, {u"y", p + s + r},
                {u"Y", r + s + p}, {u"n", p + r + s}, {u"m", s + r + p}};
    for (const Row& row : rows) {
        mp.add_file(kList, head + r + p + s);
        filarix::Run run(mp);
        settle_for_file(run, row.keys);
        run.s.VAR = 1;
        run.s.DELIM = 1;
        run.s.delimiter = '|';
        sort_listing(run, kList, 1, SortLimits{});
        EXPECT_EQ(mp.contents(kList).value_or(""), head + row.sorted) << char(row.keys[0]);
    }
}

// CSV and JSON Lines rows: a CSV row whose name holds line feeds is one
// record, the header row stays first, and the keys read the rows' fields,
// also when the rows are sorted in runs and merged.
TEST(SortTable, RowsFollowTheKeysWhole) {
    MemoryPlatform mp;
    const auto csv = [](const std::string& path, const std::string& size, const std::string& time) {
        return "file," + path + ",," + size + ",A.....," + time + ",EST,1234,\r\n";
    };
    const auto json = [](const std::string& path, const std::string& size,
                         const std::string& time) {
        return "{\"kind\":\"file\",\"path\":\"" + path + "\",\"size\":" + size +
               ",\"attributes\":\"A.....\",\"modified\":\"" + time + "\",\"zone\":\"EST\"}\n";
    };
    struct Form {
        TableFormat format;
        std::string head, p, r, s;
    } forms[] = {
        {table_csv,
         "kind,path,path_bytes,size,attributes,modified,zone,volume_serial,volume_label\r\n",
         csv("\"C:\\v\\p\n,\"\"9\"", "5", "2024-01-02T10:00:00.000-05:00"),
         csv("C:\\v\\r.txt", "120", "2023-03-02T10:00:00.000-05:00"),
         csv("\"C:\\v\\S\r\n.txt\"", "9", "2023-12-30T10:00:00.000-05:00")},
        {table_jsonl, "", json("C:\\\\v\\\\p\\n,\\\"9", "5", "2024-01-02T10:00:00.000-05:00"),
         json("C:\\\\v\\\\r.txt", "120", "2023-03-02T10:00:00.000-05:00"),
         json("C:\\\\v\\\\S\\r\\n.txt", "9", "2023-12-30T10:00:00.000-05:00")},
    };
    for (const Form& f : forms) {
        struct Row {
            const char16_t* keys;
            std::string sorted;
        } rows[] = {{u"s", f.p + f.s + f.r}, {u"S", f.r + f.s + f.p}, {u"y", f.p + f.s + f.r},
                    {u"Y", f.r + f.s + f.p}, {u"n", f.p + f.r + f.s}, {u"m", f.s + f.r + f.p}};
        for (const Row& row : rows) {
            for (const SortLimits& limits : {SortLimits{}, SortLimits{150, 4096, 2, 1}}) {
                mp.add_file(kList, f.head + f.r + f.p + f.s);
                filarix::Run run(mp);
                settle_for_file(run, row.keys);
                run.s.table_format = f.format;
                sort_listing(run, kList, f.head.empty() ? 0 : 1, limits);
                EXPECT_EQ(mp.contents(kList).value_or(""), f.head + row.sorted)
                    << f.format << char(row.keys[0]) << limits.run_bytes;
            }
        }
    }
}

// ----- failures: the listing stays whole, the work files go -----

struct FaultRow {
    FaultyPlatform::Kind kind;
    std::size_t nth;
    int code;
    const char* message;
};

class SortFaults : public ::testing::TestWithParam<FaultRow> {};

TEST_P(SortFaults, ListingLeftWholeWithTheReason) {
    const FaultRow& row = GetParam();
    MemoryPlatform mp;
    const HandListing l = hand_listing("\n");
    const std::string before = l.head + l.records + l.summary;
    mp.add_file(kList, before);
    FaultyPlatform fp(mp);
    filarix::Run run(fp);
    settle_for_file(run, u"n");
    fp.fail(row.kind, row.nth);
    int code = -1;
    try {
        sort_listing(run, kList, 5, SortLimits{150, 4096, 2, 1});
    } catch (const RunEnded& ended) {
        code = ended.reason;
    }
    run.std_err.flush();
    EXPECT_EQ(code, row.code);
    EXPECT_NE(mp.err_text.find(row.message), std::string::npos) << mp.err_text;
    EXPECT_EQ(mp.contents(kList).value_or(""), before);
    EXPECT_EQ(mp.node(u"C:\\out")->children.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SortFaults,
    ::testing::Values(FaultRow{FaultyPlatform::Kind::open_update, 1, exit_code::input_file,
                               "sorry, can't open input file C:\\out\\list.txt, BYE\n"},
                      FaultRow{FaultyPlatform::Kind::open_update, 3, exit_code::write_error,
                               "Error creating the sort work file C:\\out\\list.txt.sort"},
                      FaultRow{FaultyPlatform::Kind::read, 4, exit_code::input_file,
                               "Error reading C:\\out\\list.txt for sorting"},
                      FaultRow{FaultyPlatform::Kind::update_write, 3, exit_code::write_error,
                               "Error writing the sort work file C:\\out\\list.txt.sort"},
                      FaultRow{FaultyPlatform::Kind::rename_file, 1, exit_code::write_error,
                               "Error replacing C:\\out\\list.txt with its sorted copy"}));

TEST(SortFaults, AWholeRunWhoseListingCannotBeReopenedEndsWithInputFile) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    mp.add_file(u"C:\\d\\f.txt", "1");
    FaultyPlatform fp(mp);
    fp.fail(FaultyPlatform::Kind::open_update, 1, true);
    const RunResult r =
        run_in_memory(mp, fp, {u"filarix64", u"C:\\d", u"-yn"}, [](filarix::Run& run) {
            run.s.OUTPUT = ListingOutput::file;
            run.s.output_name = kList;
        });
    EXPECT_EQ(r.code, exit_code::input_file);
    EXPECT_NE(r.err.find("Exit Status: INPUT_FILE"), std::string::npos) << r.err;
    EXPECT_NE(mp.contents(kList).value_or("").find("C:\\d\\f.txt"), std::string::npos);
}

}  // namespace
