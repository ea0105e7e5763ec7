// Files the program keeps for itself that turn out to be a pipe or a
// device, standard streams that cannot take the listing, and an interrupt
// while the program waits for a line.
#include <gtest/gtest.h>

#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace testing_support;

namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Each file the program opens for itself, named after a pipe: its own
// open-failure message, and the run goes on or ends as that failure always
// made it.
TEST(SpecialFiles, AFileOfTheProgramThatIsAPipeGetsItsOwnOpenFailure) {
    const struct {
        const char* what;
        std::vector<std::u16string> args;
        std::u16string pipe;
        int code;
        std::string out_message;
        std::string err_message;
    } cases[] = {
        {"accounting log",
         {u"-1", u"C:\\out\\pipe"},
         u"C:\\out\\pipe",
         4,
         "",
         "\nerror opening C:\\out\\pipe\n"},
        {"listing",
         {u"-o", u"C:\\out\\pipe"},
         u"C:\\out\\pipe",
         4,
         "",
         "\ncan't create output file C:\\out\\pipe\n"},
        {"memo file",
         {u"--MEMO=C:\\out\\pipe"},
         u"C:\\out\\pipe",
         1,
         "\nCan't open memo file C:\\out\\pipe\n",
         ""},
        {"label counter",
         {u"-i"},
         u"C:\\work\\DISKLABL",
         1,
         "",
         "\nCan't store the next label in C:\\work\\DISKLABL\n"},
        {"INI file", {}, u"C:\\work\\FILARIX64.INI", 1, "\nCouldn't open .ini file\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\f.txt", "1");
        mp.add_dir(u"C:\\out");
        mp.add_special(c.pipe);
        std::vector<std::u16string> args{u"filarix64", u"C:\\d"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run_in_memory(mp, args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_TRUE(has(r.out, c.out_message)) << r.out;
        EXPECT_TRUE(has(r.err, c.err_message)) << r.err;
        EXPECT_TRUE(mp.node(c.pipe)->special);  // not replaced by a file
    }
}

// The stream that carries the listing must take its last bytes, or the
// run is a write error; a failing stream that carries no listing is not.
TEST(SpecialFiles, TheLastFlushOfTheListingStreamDecidesAWriteError) {
    const struct {
        const char* what;
        std::vector<std::u16string> args;
        bool out_fails;
        bool err_fails;
        int code;
    } cases[] = {
        {"standard output full, listing on it", {u"-o", u"stdout"}, true, false, 9},
        {"standard error full, console listing", {}, false, true, 9},
        {"standard output full, console listing", {}, true, false, 1},
        {"standard error full, listing on standard output", {u"-o", u"stdout"}, false, true, 1},
        {"both fine", {u"-o", u"stdout"}, false, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\f.txt", "1");
        mp.out_fails = c.out_fails;
        mp.err_fails = c.err_fails;
        std::vector<std::u16string> args{u"filarix64", u"C:\\d"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run_in_memory(mp, args);
        EXPECT_EQ(r.code, c.code);
        if (c.code == 9 && !c.err_fails) {
            EXPECT_TRUE(r.err.ends_with("\nExit Status: WRITE_ERROR\n\n")) << r.err;
        }
    }
}

TEST(SpecialFiles, AnInterruptAtTheMemoPromptEndsTheRun) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\f.txt", "1");
    mp.input_lines = {"typed before", "", ""};
    mp.interrupt_requested = true;
    const RunResult r = run_in_memory(mp, {u"filarix64", u"C:\\d", u"--MEMO=C:\\work\\memo.txt"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(has(r.err, "Input up to 2000 characters of your memo information now."));
    EXPECT_TRUE(r.err.ends_with("\nExit Status: USER_ABORTED\n\n")) << r.err;
    EXPECT_EQ(mp.input_lines.size(), 3u);  // nothing more was read
}

}  // namespace
