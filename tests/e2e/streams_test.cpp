// End-to-end: user extended attributes listed as named streams, with the
// digests of their values, and access times left as they were found.
#include <sys/xattr.h>

#include <cstring>

#include "e2e_support.hpp"

namespace {

using e2e::run;
using e2e::TempTree;
using Lines = std::vector<std::string>;

// The listing lines of standard error: after the leading newline, up to
// the first empty line.
Lines listing(const std::string& err) {
    Lines lines;
    std::size_t at = err.empty() || err[0] != '\n' ? 0 : 1;
    for (std::size_t end; (end = err.find('\n', at)) != std::string::npos && end > at; at = end + 1)
        lines.push_back(err.substr(at, end - at));
    return lines;
}

std::string big_value() {
    std::string v(3900, '\0');
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<char>((i * 7) % 251);
    return v;
}

void set_xattr(const std::string& path, const char* name, const std::string& value) {
    // No skipping: a temporary directory without user attributes is a
    // machine this suite cannot vouch for.
    ASSERT_EQ(::setxattr(path.c_str(), name, value.data(), value.size(), 0), 0)
        << path << " " << name << ": " << std::strerror(errno);
}

// A record or stream line of a run with -c -5 (CRC and MD5).
std::string digest_line(const std::string& path, long long size, const char* marker,
                        const char* crc, const char* md5) {
    char text[512];
    std::snprintf(text, sizeof text, "%-54.54s  %20lld %s  %10.10s  %40.40s %sw UTC ", path.c_str(),
                  size, marker, crc, md5, e2e::kStampText);
    return text;
}

// A directory's stream is never read: with -c its CRC place stays blank.
std::string directory_stream_line(const std::string& path, long long size) {
    char text[256];
    std::snprintf(text, sizeof text, "%-54.54s  %20lld Dadata %9s ", path.c_str(), size, "");
    return text;
}

// The tree of the stream tests: f with three streams, g with none, and a
// directory with one. Expected digests computed once with Python's zlib
// and hashlib over os.getxattr of these values.
struct StreamTree {
    TempTree t;
    std::string f, g, sub;
    StreamTree() {
        f = t.file("f", "main");
        g = t.file("g", "x");
        sub = t.dir("sub");
        set_xattr(f, "user.empty", "");
        set_xattr(f, "user.big", big_value());
        set_xattr(f, "user.DosStream.x:$DATA", "secret stream");
        set_xattr(sub, "user.dirnote", "dir");
        t.stamp("f");
        t.stamp("sub");
    }
};

TEST(Streams, ThreeAttributesGiveThreeStreamLinesWithTheirDigests) {
    StreamTree tree;
    const std::string r = tree.t.root() + "/";
    const auto result = run({tree.t.root(), "-c", "-5"});
    EXPECT_EQ(result.status, 1) << result.err;
    const Lines expected = {
        directory_stream_line(r + "sub:dirnote", 3),
        digest_line(r + "f", 4, "A......", "BF28CD64", "FAD58DE7366495DB4650CFEFAC2FCD61"),
        digest_line(r + "f:big", 3900, ".adata.", "B22EFFB6", "4EB8DA9D6C2295BF331E8AB28F908230"),
        digest_line(r + "f:empty", 0, ".adata.", "00000000", "D41D8CD98F00B204E9800998ECF8427E"),
        digest_line(r + "f:x", 13, ".adata.", "334995EE", "7F126389AA7D42DDAD61FBB8D116C0FF"),
        digest_line(r + "g", 1, "A......", "8CDC1683", "9DD4E461268C8034F5C8564E155C67A6"),
    };
    EXPECT_EQ(listing(result.err), expected) << result.err;
    EXPECT_NE(result.err.find("  1 directory, 6 files, 3,921 bytes"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("(Includes 4 Alternate Data Streams And 1 directories holding 1 "
                              "data stream files)"),
              std::string::npos)
        << result.err;
}

TEST(Streams, OptionsDecideWhichLinesAppear) {
    StreamTree tree;
    struct Case {
        std::vector<std::string> options;
        std::size_t records;
        std::size_t file_streams;
        std::size_t directory_streams;
    };
    const std::vector<Case> cases = {
        {{}, 2, 3, 1},           {{"--NO_ADS"}, 2, 0, 0}, {{"-S"}, 2, 0, 0},
        {{"-S", "+S"}, 2, 3, 1}, {{"--ADS"}, 2, 0, 0},    {{"--ADSONLY"}, 1, 3, 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{tree.t.root()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = run(args);
        std::size_t records = 0, files = 0, directories = 0;
        for (const auto& line : listing(result.err)) {
            if (line.find(".adata.") != std::string::npos)
                ++files;
            else if (line.find("Dadata") != std::string::npos)
                ++directories;
            else
                ++records;
        }
        const std::string name = c.options.empty() ? "(none)" : c.options.front();
        EXPECT_EQ(records, c.records) << name << result.err;
        EXPECT_EQ(files, c.file_streams) << name;
        EXPECT_EQ(directories, c.directory_streams) << name;
        EXPECT_EQ(result.status, 1) << name;
        // Without stream lines the summary does not mention streams.
        EXPECT_EQ(result.err.find("Alternate Data Streams") != std::string::npos,
                  files + directories > 0)
            << name;
    }
}

// The access time (with its nanoseconds) and write time of a path.
std::pair<timespec, timespec> times_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {st.st_atim, st.st_mtim};
}

bool same(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Files whose access time lies after their write time but before their
// status change, so that a plain read updates it even on a relatime mount.
struct ReadTree {
    TempTree t;
    std::vector<std::string> files;
    explicit ReadTree(uid_t owner) {
        ::chmod(t.root().c_str(), 0755);
        for (const char* name : {"a.txt", "b.bin", "readonly"}) {
            const std::string p = t.file(name, std::string("contents of ") + name);
            const timespec times[2] = {{e2e::kStamp + 60, 123456789}, {e2e::kStamp, 0}};
            EXPECT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
            EXPECT_EQ(::chown(p.c_str(), owner, owner), 0);
            files.push_back(p);
        }
        ::chmod(files.back().c_str(), 0444);
    }
};

TEST(Streams, ResetLeavesAccessTimesAsFoundForRootAndForTheOwner) {
    ASSERT_EQ(::geteuid(), 0u) << "these cases need root to make an unprivileged owner";
    for (const bool as_owner : {false, true}) {
        ReadTree tree(as_owner ? 65534 : 0);
        std::vector<std::pair<timespec, timespec>> before;
        for (const auto& f : tree.files) before.push_back(times_of(f));
        const auto result = run({tree.t.root(), "-c", "-R"}, {}, as_owner);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_EQ(result.err.find("reset"), std::string::npos) << result.err;
        for (std::size_t i = 0; i < tree.files.size(); ++i) {
            const auto after = times_of(tree.files[i]);
            EXPECT_TRUE(same(after.first, before[i].first))
                << tree.files[i] << (as_owner ? " as owner: " : " as root: ") << after.first.tv_sec
                << "." << after.first.tv_nsec;
            EXPECT_TRUE(same(after.second, before[i].second)) << tree.files[i];
        }
    }
}

TEST(Streams, ResetThatCannotBeDoneIsToldAndTheRunIsNotNormal) {
    ASSERT_EQ(::geteuid(), 0u) << "this case needs root to run the binary as a non-owner";
    // Neither O_NOATIME nor setting the times is allowed to a non-owner:
    // the read changes the access time, and the run says so.
    ReadTree tree(0);
    const auto result = run({tree.t.root(), "-c", "-R"}, {}, true);
    EXPECT_EQ(result.status, 8) << result.err;
    EXPECT_NE(result.err.find("\nCan't reset filetime for " + tree.files[0] + "\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("Can't reset filetime for " + tree.files[1]), std::string::npos);
    EXPECT_NE(result.err.find("Access times not restored: 3 files"), std::string::npos)
        << result.err;
}

// A file written to by somebody else while the run goes on (here by the
// command run for the file before it) was read without moving its access
// time: its times are not written, so the write keeps its time and no
// later status change follows.
TEST(Streams, ResetWritesNoTimesWhenTheAccessTimeDidNotMove) {
    TempTree t;
    t.file("a.txt", "first");
    const std::string written = t.file("z.txt", "last");
    const auto result =
        run({t.root(), "-c", "-R", "-e", "test % = " + written + " || echo more >> " + written});
    EXPECT_EQ(result.status, 1) << result.err;
    struct stat st {};
    ASSERT_EQ(::stat(written.c_str(), &st), 0);
    EXPECT_NE(st.st_mtim.tv_sec, e2e::kStamp);
    EXPECT_TRUE(same(st.st_ctim, st.st_mtim)) << st.st_ctim.tv_sec << " " << st.st_mtim.tv_sec;
}

// A link is not read for itself: nothing is put back through it, so its
// target keeps its own times and a dangling link is no failure.
TEST(Streams, ResetLeavesLinksAndTheirTargetsAlone) {
    TempTree t, elsewhere;
    const std::string target = elsewhere.file("target.txt", "x");
    t.file("a.txt", "y");
    t.link(target, "to-target", e2e::kStamp - 86400);
    t.link(t.path("gone"), "dangling", e2e::kStamp - 86400);
    const auto before = times_of(target);
    const auto result = run({t.root(), "-c", "-R"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.err.find("reset"), std::string::npos) << result.err;
    const auto after = times_of(target);
    EXPECT_TRUE(same(after.first, before.first)) << after.first.tv_sec;
    EXPECT_TRUE(same(after.second, before.second)) << after.second.tv_sec;
}

}  // namespace
