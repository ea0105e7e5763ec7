// Enough to show that the in-memory platform behaves like a Windows host.
#include "memory_platform.hpp"

#include <gtest/gtest.h>

#include "faulty_platform.hpp"

namespace {

using platform::FindData;
using platform::SearchDetail;
using testing_support::FaultyPlatform;
using testing_support::MemoryPlatform;
namespace attr = platform::attr;

std::vector<std::u16string> names(platform::System& sys, std::u16string_view pattern) {
    std::vector<std::u16string> out;
    FindData entry;
    auto search = sys.find_first(pattern, entry, SearchDetail::full);
    if (!search) return out;
    do out.push_back(entry.name);
    while (search->next(entry));
    return out;
}

std::string read_all(platform::InputFile& file) {
    std::string out;
    char buffer[7];
    long long got;
    while ((got = file.read(buffer, sizeof buffer)) > 0) out.append(buffer, std::size_t(got));
    return out;
}

TEST(MemoryPlatform, ListsWithDotsSortedAndMasked) {
    MemoryPlatform sys;
    sys.add_file(u"C:\\work\\b.TXT", "bb");
    sys.add_file(u"C:\\work\\A.txt", "a");
    sys.add_file(u"C:\\work\\c.doc", "", {.short_name = u"C~1.DOC"});
    sys.add_dir(u"C:\\work\\sub");
    using V = std::vector<std::u16string>;
    EXPECT_EQ(names(sys, u"C:\\work\\*"), (V{u".", u"..", u"A.txt", u"b.TXT", u"c.doc", u"sub"}));
    EXPECT_EQ(names(sys, u"\\\\?\\c:\\WORK\\*.txt"), (V{u"A.txt", u"b.TXT"}));
    EXPECT_EQ(names(sys, u"C:/work/b.txt"), (V{u"b.TXT"}));
    EXPECT_EQ(names(sys, u"C:\\*"), (V{u"work"}));  // a root has no dots
    EXPECT_TRUE(names(sys, u"C:\\nowhere\\*").empty());
    EXPECT_TRUE(names(sys, u"C:\\work\\*.exe").empty());
    EXPECT_EQ(sys.find_first_calls, 6u);

    FindData entry;
    ASSERT_TRUE(sys.find_first(u"C:\\work\\c.doc", entry, SearchDetail::full));
    EXPECT_EQ(entry.short_name, u"C~1.DOC");
    EXPECT_EQ(entry.attributes, attr::archive);
    ASSERT_TRUE(sys.find_first(u"C:\\work\\sub", entry, SearchDetail::full));
    EXPECT_EQ(entry.attributes, attr::directory);
    EXPECT_EQ(entry.size, 0u);
}

TEST(MemoryPlatform, SharesStreamsAndReparsePoints) {
    MemoryPlatform sys;
    sys.add_volume(u"\\\\SERVER\\Data", {.label = u"SHARE", .serial = 7});
    sys.add_file(u"\\\\server\\data\\f.txt", "main", {.streams = {{u"notes", "hidden text"}}});
    sys.add_symlink_dir(u"C:\\work\\link");

    EXPECT_TRUE(sys.exists(u"\\\\?\\UNC\\Server\\DATA\\F.TXT"));
    auto info = sys.volume_info(u"\\\\server\\data\\");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->label, u"SHARE");
    EXPECT_EQ(info->serial, 7u);
    EXPECT_TRUE(info->named_streams);

    const auto listing = sys.named_streams(u"\\\\server\\data\\f.txt");
    ASSERT_EQ(listing.status, platform::StreamListing::Status::listed);
    const auto& streams = listing.streams;
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].name, u":notes:$DATA");
    EXPECT_EQ(streams[0].size, 11);
    auto in = sys.open_read(u"\\\\server\\data\\f.txt:notes", false);
    ASSERT_TRUE(in);
    EXPECT_EQ(read_all(*in), "hidden text");

    EXPECT_EQ(sys.get_attributes(u"C:\\work\\link"), attr::directory | attr::reparse_point);
    EXPECT_EQ(sys.get_attributes(u"C:\\"), attr::directory | attr::hidden | attr::system);
    EXPECT_FALSE(sys.volume_info(u"D:\\"));
}

TEST(MemoryPlatform, FullPathFollowsWindowsRules) {
    MemoryPlatform sys;
    EXPECT_EQ(sys.full_path(u"C:\\a\\..\\b"), u"C:\\b");
    EXPECT_EQ(sys.full_path(u"x\\y"), u"C:\\work\\x\\y");
    EXPECT_EQ(sys.full_path(u"\\x"), u"C:\\x");
    EXPECT_EQ(sys.full_path(u"C:"), u"C:\\");
    EXPECT_EQ(sys.full_path(u"D:\\a\\.\\b/c\\"), u"D:\\a\\b\\c\\");
    EXPECT_EQ(sys.full_path(u"\\\\?\\C:\\a\\..\\b"), u"\\\\?\\C:\\a\\..\\b");
    EXPECT_EQ(sys.full_path(u"\\\\srv\\sh\\a\\..\\..\\b"), u"\\\\srv\\sh\\b");
    EXPECT_FALSE(sys.full_path(u""));
}

TEST(MemoryPlatform, ReadsWritesAndLocks) {
    MemoryPlatform sys;
    sys.add_file(u"C:\\work\\big.bin", std::uint64_t{5'000'000'000});
    sys.add_file(u"C:\\work\\held.txt", "x", {.locked_primary = true});
    EXPECT_EQ(sys.node(u"C:\\work\\big.bin")->size(), 5'000'000'000u);
    EXPECT_FALSE(sys.open_read(u"C:\\work\\held.txt", false));
    EXPECT_TRUE(sys.open_read(u"C:\\work\\held.txt", true));

    auto out = sys.open_text(u"C:\\work\\list.txt", platform::OpenMode::write);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->write("hello\n", 6));
    auto more = sys.open_text(u"C:\\work\\list.txt", platform::OpenMode::append);
    EXPECT_TRUE(more->write("again\n", 6));
    EXPECT_EQ(sys.contents(u"C:\\work\\list.txt"), "hello\nagain\n");
    EXPECT_FALSE(sys.open_text(u"C:\\missing\\list.txt", platform::OpenMode::write));

    auto update = sys.open_update(u"C:\\work\\list.txt", false);
    ASSERT_TRUE(update);
    EXPECT_TRUE(update->seek(6));
    EXPECT_TRUE(update->write("AGAIN", 5));
    EXPECT_TRUE(update->set_end(11));
    EXPECT_EQ(update->size(), 11u);
    EXPECT_EQ(sys.contents(u"C:\\work\\list.txt"), "hello\nAGAIN");

    sys.standard_output().write("out", 3);
    EXPECT_EQ(sys.out_text, "out");
}

TEST(MemoryPlatform, ClockAndZone) {
    MemoryPlatform sys;
    auto utc = sys.to_utc(0);
    ASSERT_TRUE(utc);
    EXPECT_EQ(utc->year, 1601);
    EXPECT_EQ(utc->weekday, 1);  // a Monday
    const auto now = MemoryPlatform::seconds_to_ticks(sys.now_seconds()) + 1230000;
    auto local = sys.to_local(now);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->year, 2024);
    EXPECT_EQ(local->month, 1);
    EXPECT_EQ(local->day, 14);
    EXPECT_EQ(local->hour, 10);
    EXPECT_EQ(local->minute, 42);
    EXPECT_EQ(local->second, 16);
    EXPECT_EQ(local->millisecond, 123);
    EXPECT_EQ(local->weekday, 0);  // a Sunday
    EXPECT_EQ(sys.make_local(*local), sys.now_seconds());
    EXPECT_EQ(sys.local_calendar(sys.now_seconds())->hour, 10);
}

TEST(FaultyPlatform, FailsTheChosenCall) {
    MemoryPlatform sys;
    sys.add_file(u"C:\\work\\a.txt", "abc");
    FaultyPlatform faulty(sys);
    faulty.fail(FaultyPlatform::Kind::write, 2);
    EXPECT_TRUE(faulty.standard_output().write("1", 1));
    EXPECT_FALSE(faulty.standard_output().write("2", 1));
    EXPECT_TRUE(faulty.standard_output().write("3", 1));
    EXPECT_EQ(sys.out_text, "13");

    faulty.fail(FaultyPlatform::Kind::read, 1, true);
    auto in = faulty.open_read(u"C:\\work\\a.txt", false);
    ASSERT_TRUE(in);
    char c;
    EXPECT_EQ(in->read(&c, 1), -1);
    EXPECT_EQ(in->read(&c, 1), -1);
    EXPECT_EQ(faulty.failures(FaultyPlatform::Kind::read), 2u);
    faulty.heal_all();
    EXPECT_EQ(in->read(&c, 1), 1);
}

TEST(FaultyPlatform, CallsItDoesNotFaultReachTheWrappedPlatform) {
    MemoryPlatform sys;
    sys.add_file(u"C:\\work\\a.txt", "abc");
    sys.env[u"WIDTH"] = u"70";
    sys.keys = {'y'};
    FaultyPlatform faulty(sys);
    EXPECT_TRUE(faulty.exists(u"C:\\work\\a.txt"));
    EXPECT_EQ(faulty.get_env(u"width"), u"70");
    EXPECT_EQ(faulty.now_seconds(), sys.now);
    EXPECT_EQ(faulty.volume_info(u"C:\\")->serial, 0x1234ABCDu);
    EXPECT_EQ(faulty.read_key(), 'y');
    EXPECT_EQ(faulty.narrow(u"abc"), "abc");
    faulty.sleep_ms(5);
    EXPECT_EQ(sys.slept_ms, 5u);
    EXPECT_EQ(&faulty.inner(), &sys);
}

}  // namespace
