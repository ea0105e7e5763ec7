// The duplicate search on files given as contents: which files form
// groups, and which were sampled or digested to find out.
#include "catalogue/duplicate_groups.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"

namespace filarix {
namespace {

struct File {
    const char* name;
    std::string content;
    std::uint64_t inode;  // equal for names of one file
};

struct Found {
    std::vector<std::vector<std::string>> groups;  // names, in the order handed over
    std::vector<std::uint64_t> sizes;
    std::set<std::string> sampled;
    std::set<std::string> digested;
    std::vector<DupeProgress> progress;  // as told, in order
};

Found search(const std::vector<File>& files) {
    DupeCandidates c;
    for (const File& f : files) {
        platform::PreciseFacts facts;
        facts.device = 1;
        facts.inode = f.inode;
        facts.links = 2;
        const std::string name = f.name;
        c.add(u"/t/", std::u16string(name.begin(), name.end()), f.content.size(), facts);
    }
    Found found;
    const auto name_of = [&](std::size_t i) { return std::string(files[i].name); };
    DupeReads reads;
    reads.samples = [&](const DupeReads::Files& asked, const DupeReads::Samples& each) {
        for (std::size_t k = 0; k < asked.size(); ++k) {
            const std::size_t i = asked[k];
            found.sampled.insert(name_of(i));
            const std::string& s = files[i].content;
            if (s.starts_with("unreadable")) {
                each(k, std::nullopt);
                continue;
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
            const std::uint64_t head = sample_hash(bytes, dupe_sample_bytes, s.size());
            each(k, sample_hash(bytes + s.size() - dupe_sample_bytes, dupe_sample_bytes, head));
        }
    };
    reads.digests = [&](const DupeReads::Files& asked, const DupeReads::Sets&,
                        const DupeReads::Digests& each) {
        // Answered last to first: the order of the answers does not matter.
        for (std::size_t k = asked.size(); k-- > 0;) {
            const std::size_t i = asked[k];
            found.digested.insert(name_of(i));
            HeldDigests d;
            char hex[17];
            std::snprintf(
                hex, sizeof hex, "%016llX",
                static_cast<unsigned long long>(std::hash<std::string>{}(files[i].content)));
            d[digest_index(DigestId::sha256)] = hex;
            each(k, std::move(d));
        }
    };
    reads.progress = [&](const DupeProgress& p) { found.progress.push_back(p); };
    find_duplicate_groups(c, reads, [&](std::vector<DupeGroup>& groups) {
        for (const DupeGroup& g : groups) {
            std::vector<std::string> names;
            for (const DupeFile& f : g.files)
                for (std::size_t n : f.names) names.push_back(name_of(n));
            std::sort(names.begin(), names.end());
            found.groups.push_back(names);
            found.sizes.push_back(g.size);
        }
    });
    return found;
}

std::string big(char fill, std::size_t size = 10000) {
    return std::string(size, fill);
}
std::string with(std::string s, std::size_t at, char c) {
    s[at] = c;
    return s;
}

TEST(DuplicateGroups, FromSizesAndContents) {
    struct Case {
        const char* name;
        std::vector<File> files;
        std::set<std::vector<std::string>> groups;
        std::set<std::string> sampled;
        std::set<std::string> digested;
    };
    const Case cases[] = {
        {"a unique size is never read", {{"a", "xy", 1}, {"b", "xyz", 2}}, {}, {}, {}},
        {"small files are digested without a sample",
         {{"a", "xy", 1}, {"b", "xy", 2}, {"c", "zz", 3}},
         {{"a", "b"}},
         {},
         {"a", "b", "c"}},
        {"a file of two samples' size is digested at once",
         {{"a", big('e', 8192), 1}, {"b", big('e', 8192), 2}},
         {{"a", "b"}},
         {},
         {"a", "b"}},
        {"one byte more is sampled first",
         {{"a", big('e', 8193), 1}, {"b", big('e', 8193), 2}},
         {{"a", "b"}},
         {"a", "b"},
         {"a", "b"}},
        {"the last byte tells them apart before a digest",
         {{"a", big('q'), 1}, {"b", with(big('q'), 9999, 'r'), 2}},
         {},
         {"a", "b"},
         {}},
        {"the middle is found by the digest",
         {{"a", big('q'), 1}, {"b", with(big('q'), 5000, 'r'), 2}, {"c", big('q'), 3}},
         {{"a", "c"}},
         {"a", "b", "c"},
         {"a", "b", "c"}},
        {"names of one file are read once and are no copies of it",
         {{"a", "same", 7},
          {"b", "same", 7},
          {"c", "same", 8},
          {"d", "lonely", 9},
          {"e", "lonely", 9}},
         {{"a", "b", "c"}},
         {},
         {"a", "c"}},
        {"empty files are no duplicates", {{"a", "", 1}, {"b", "", 2}}, {}, {}, {}},
        {"an unreadable file drops out",
         {{"a", with(big('u'), 0, 'u'), 1}, {"b", "unreadable" + big('u', 9990), 2}},
         {},
         {"a", "b"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Found found = search(c.files);
        EXPECT_EQ(std::set(found.groups.begin(), found.groups.end()), c.groups);
        EXPECT_EQ(found.sampled, c.sampled);
        EXPECT_EQ(found.digested, c.digested);
    }
}

TEST(DuplicateGroups, LargestSizeFirst) {
    const Found found = search({{"s1", "ab", 1},
                                {"l1", big('l'), 2},
                                {"s2", "ab", 3},
                                {"m1", big('m', 5000), 4},
                                {"l2", big('l'), 5},
                                {"m2", big('m', 5000), 6}});
    EXPECT_EQ(found.sizes, (std::vector<std::uint64_t>{10000, 5000, 2}));
}

// Sizes are asked about in batches; a size with more files than a batch
// is one alone, and the groups still come largest first.
TEST(DuplicateGroups, BatchesKeepTheOrder) {
    std::vector<std::string> names;
    std::vector<File> files;
    const auto add = [&](std::string content) {
        names.push_back("f" + std::to_string(files.size()));
        files.push_back({names.back().c_str(), std::move(content), files.size()});
    };
    for (std::size_t size = 1; size <= 100; ++size) {
        add(big('p', size));
        add(big('p', size));
    }
    for (std::size_t i = 0; i < 2 * dupe_batch_files; ++i) add(big(i % 2 ? 'a' : 'b', 50));
    for (std::size_t i = 0; i < files.size(); ++i) files[i].name = names[i].c_str();
    const Found found = search(files);
    std::vector<std::uint64_t> sizes;
    for (std::size_t size = 100; size >= 1; --size) {
        sizes.push_back(size);
        if (size == 50) sizes.insert(sizes.end(), {50, 50});  // the a's and the b's
    }
    EXPECT_EQ(found.sizes, sizes);
}

// The whole search on the memory platform: a read that fails, in a sample
// or in a digest, drops one file out of its group, and the others stay.
TEST(DuplicateGroups, AFailedReadDropsOneFile) {
    using testing_support::FaultyPlatform;
    struct Case {
        const char* name;
        std::size_t failing_read;  // 0: none
        const char* counts;
    };
    // Each file's sample is two reads, then each file's digest one more.
    const Case cases[] = {
        {"none fails", 0, "Duplicate groups: 1, files: 3,"},
        {"a sample", 3, "Duplicate groups: 1, files: 2,"},
        {"a digest", 7, "Duplicate groups: 1, files: 2,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::MemoryPlatform mp;
        for (const char16_t* name : {u"C:\\d\\a.bin", u"C:\\d\\b.bin", u"C:\\d\\c.bin"})
            mp.add_file(name, big('q'));
        FaultyPlatform faulty(mp);
        if (c.failing_read) faulty.fail(FaultyPlatform::Kind::read, c.failing_read);
        const auto r = testing_support::run_in_memory(
            mp, faulty, {u"filarix64", u"C:\\d", u"--DUPES", u"--CSV", u"-o", u"stdout"});
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_NE(r.err.find(c.counts), std::string::npos) << r.err;
    }
}

// The progress counts the files whose size another shares (names of one
// file once) and their bytes, from none before any read to all at the end,
// never going back, whether a file leaves at its sample or is read whole.
TEST(DuplicateGroups, ProgressCountsFilesSharingASize) {
    const Found found = search({{"a", "same", 1},
                                {"b", "same", 1},
                                {"c", "same", 2},
                                {"d", "lonely", 3},
                                {"e", big('q'), 4},
                                {"f", with(big('q'), 9999, 'r'), 5},
                                {"g", with(big('q'), 5000, 'r'), 6}});
    ASSERT_FALSE(found.progress.empty());
    const DupeProgress& first = found.progress.front();
    const DupeProgress& last = found.progress.back();
    EXPECT_EQ(first.files_total, 5u);
    EXPECT_EQ(first.bytes_total, 2u * 4 + 3u * 10000);
    EXPECT_EQ(first.files_done, 0u);
    EXPECT_EQ(first.bytes_done, 0u);
    EXPECT_EQ(last.files_done, last.files_total);
    EXPECT_EQ(last.bytes_done, last.bytes_total);
    for (std::size_t i = 1; i < found.progress.size(); ++i) {
        EXPECT_GE(found.progress[i].files_done, found.progress[i - 1].files_done);
        EXPECT_GE(found.progress[i].bytes_done, found.progress[i - 1].bytes_done);
        EXPECT_EQ(found.progress[i].files_total, first.files_total);
    }
}

TEST(DupeCandidates, PathOrderAcrossDirectories) {
    DupeCandidates c;
    c.add(u"/t/b/", u"x", 1, std::nullopt);
    c.add(u"/t/", u"bz", 1, std::nullopt);
    c.add(u"/t/b/", u"a", 1, std::nullopt);
    EXPECT_EQ(c.path(2), u"/t/b/a");
    EXPECT_TRUE(c.path_before(2, 0));
    EXPECT_TRUE(c.path_before(0, 1));  // '/' sorts before 'z'
    EXPECT_FALSE(c.path_before(1, 2));
    // Without an identity each name is a file of its own.
    EXPECT_NE(c.identity(0), c.identity(2));
}

}  // namespace
}  // namespace filarix
