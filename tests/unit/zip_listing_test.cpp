// The ZIP listing and the file-type check wired into whole runs on the
// in-memory platform, where the disk can be made to fail.
#include <gtest/gtest.h>

#include <string>

#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"
#include "zip_fixtures.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

std::string_view fixture(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A failed skip is reported; the walk ends after the member already listed,
// and a key is waited for only when a person can press one, so that a
// piped run never stalls or eats its input.
TEST(ZipListingRun, FailedSkipWaitsForAKeyOnlyAtAConsole) {
    // The walker looks for keys too; the wait takes one more than it does.
    std::size_t keys_left[2] = {};
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal);
        MemoryPlatform mp;
        // Cut before its directory, so that its local headers are walked:
        // the moves are to the end, back to the start, then over a.txt's data.
        mp.add_file(u"C:\\d\\a.zip", fixture(zip_fixtures::mixed_zip, 162));
        mp.in_is_terminal = terminal;
        mp.keys.assign(10, 'x');
        FaultyPlatform faulty(mp);
        faulty.fail(FaultyPlatform::Kind::seek, 3, true);
        const RunResult r = run_in_memory(mp, faulty, {u"filarix64", u"C:\\d", u"--ziplog"});
        EXPECT_EQ(r.code, 1);
        const auto lines = listing_lines(r.err);
        ASSERT_EQ(lines.size(), 3u) << r.err;
        EXPECT_TRUE(lines[1].starts_with("C:\\d\\a.zip>>a.txt ")) << lines[1];
        EXPECT_EQ(lines[2], "Seek Error");
        keys_left[terminal] = mp.keys.size();
    }
    EXPECT_EQ(keys_left[false], keys_left[true] + 1);
}

// Member lines that never reach their file are data lost: the run ends as
// a write error and names the file.
TEST(ZipListingRun, ALostZipListingIsAWriteError) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    mp.add_file(u"C:\\d\\a.zip", fixture(zip_fixtures::mixed_zip, sizeof zip_fixtures::mixed_zip));
    FaultyPlatform faulty(mp);
    faulty.fail(FaultyPlatform::Kind::close, 1, true);
    const RunResult r =
        run_in_memory(mp, faulty, {u"filarix64", u"C:\\d", u"--ziplog=C:\\out\\members.log"});
    EXPECT_EQ(r.code, 9);
    EXPECT_NE(r.err.find("\nError writing the ZIP listing to C:\\out\\members.log\n"),
              std::string::npos)
        << r.err;
}

TEST(FileTypeRun, UnreadableFilesAreCategorisedXXX) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\types.txt", "Windows program,EXE,MZ\n");
    mp.add_file(u"C:\\d\\gone.exe", "MZ");
    FaultyPlatform faulty(mp);
    // The first open reads the header file; the second is the file's check.
    faulty.fail(FaultyPlatform::Kind::open_read, 2);
    const RunResult r =
        run_in_memory(mp, faulty, {u"filarix64", u"C:\\d", u"-h", u"C:\\types.txt"});
    EXPECT_EQ(r.code, 1);
    const auto lines = listing_lines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0], "can't open \\\\?\\C:\\d\\gone.exe");
    EXPECT_NE(lines[1].find(" A......  XXX "), std::string::npos) << lines[1];
}

}  // namespace
