// The Linux backend on real temporary trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_directory.hpp"
#include "platform/posix/posix_internal.hpp"
#include "platform/posix/posix_system.hpp"

namespace {

using platform::FindData;
using platform::SearchDetail;
namespace attr = platform::attr;

class PosixBackend : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/filarix_posix_XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        root_ = templ;
        sys_ = platform::make_posix_system();
    }
    void TearDown() override {
        std::error_code ec;
        for (auto& e : std::filesystem::recursive_directory_iterator(root_, ec))
            ::chmod(e.path().c_str(), 0755);
        std::filesystem::remove_all(root_, ec);
    }
    std::string at(const std::string& name) const { return root_ + "/" + name; }
    std::u16string u(const std::string& bytes) const { return sys_->wide(bytes); }
    void make_file(const std::string& name, const std::string& content = "x") {
        const int fd = ::open(at(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(::write(fd, content.data(), content.size()), ssize_t(content.size()));
        ::close(fd);
    }
    std::vector<std::string> list(const std::string& pattern,
                                  SearchDetail detail = SearchDetail::full) {
        std::vector<std::string> names;
        FindData fd;
        auto search = sys_->find_first(u(pattern), fd, detail);
        if (!search) return names;
        do names.push_back(sys_->narrow(fd.name));
        while (search->next(fd));
        return names;
    }
    std::optional<FindData> find(const std::string& dir, const std::string& name,
                                 SearchDetail detail) {
        FindData fd;
        auto search = sys_->find_first(u(dir + "/*"), fd, detail);
        if (!search) return std::nullopt;
        do
            if (sys_->narrow(fd.name) == name) return fd;
        while (search->next(fd));
        return std::nullopt;
    }

    std::string root_;
    std::unique_ptr<platform::System> sys_;
};

using Names = std::vector<std::string>;

TEST_F(PosixBackend, SearchOrderAndMasks) {
    for (const char* f : {"b.c", "A.c", "abc", "a1c", "name", "name.txt", "Zeta", "_under"})
        make_file(f);
    ASSERT_EQ(::mkdir(at("sub").c_str(), 0755), 0);
    const Names all{".",    "..",       "A.c", "a1c",  "abc",   "b.c",
                    "name", "name.txt", "sub", "Zeta", "_under"};
    const struct {
        const char* mask;
        Names expected;
    } cases[] = {
        {"*", all},
        {"*.*", all},
        {"*.c", {"A.c", "b.c"}},
        {"a?c", {"A.c", "a1c", "abc"}},
        {"name.*", {"name", "name.txt"}},
        {"z*", {"Zeta"}},
        {"nothing*", {}},
        {"name.txt", {"name.txt"}},
        {"missing", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list(at(c.mask)), c.expected) << c.mask;
        EXPECT_EQ(list(at(c.mask), SearchDetail::names_and_kinds), c.expected) << c.mask;
    }
    EXPECT_EQ(list(root_ + "/" + "sub/*"), (Names{".", ".."}));
    EXPECT_TRUE(list(root_ + "/nowhere/*").empty());
}

TEST_F(PosixBackend, SearchRootAndRelativePatterns) {
    const Names top = list("/*");
    ASSERT_FALSE(top.empty());
    EXPECT_NE(top.front(), ".");  // the root of a mount lists no dots
    make_file("here.txt");
    const std::string old = std::filesystem::current_path();
    ASSERT_EQ(::chdir(root_.c_str()), 0);
    const Names here = list("*.txt");
    const Names dots = list("*");
    ASSERT_EQ(::chdir(old.c_str()), 0);
    EXPECT_EQ(here, (Names{"here.txt"}));
    EXPECT_EQ(dots, (Names{".", "..", "here.txt"}));
}

TEST_F(PosixBackend, LinksAreReparsePoints) {
    ASSERT_EQ(::mkdir(at("dir").c_str(), 0755), 0);
    make_file("file");
    ASSERT_EQ(::symlink("dir", at("to_dir").c_str()), 0);
    ASSERT_EQ(::symlink("file", at("to_file").c_str()), 0);
    ASSERT_EQ(::symlink("gone", at("dangling").c_str()), 0);
    for (const auto detail : {SearchDetail::full, SearchDetail::names_and_kinds}) {
        const auto d = find(root_, "to_dir", detail);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->attributes & (attr::reparse_point | attr::directory),
                  attr::reparse_point | attr::directory);
        const auto f = find(root_, "to_file", detail);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->attributes & (attr::reparse_point | attr::directory), attr::reparse_point);
        const auto g = find(root_, "dangling", detail);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->attributes & (attr::reparse_point | attr::directory), attr::reparse_point);
    }
    const auto a = sys_->get_attributes(u(at("to_dir/")));
    ASSERT_TRUE(a);
    EXPECT_TRUE(*a & attr::reparse_point);  // the trailing slash does not follow the link
    EXPECT_TRUE(sys_->is_directory(u(at("to_dir"))));
    EXPECT_TRUE(sys_->exists(u(at("dangling"))));
    EXPECT_FALSE(sys_->exists(u(at("gone"))));
    EXPECT_FALSE(sys_->get_attributes(u(at("gone"))));
}

TEST_F(PosixBackend, HiddenReadonlyAndArchive) {
    make_file(".secret");
    make_file("plain");
    const auto dot = find(root_, ".", SearchDetail::full);
    ASSERT_TRUE(dot);
    EXPECT_EQ(dot->attributes, attr::directory);
    const auto secret = find(root_, ".secret", SearchDetail::full);
    ASSERT_TRUE(secret);
    EXPECT_EQ(secret->attributes, attr::hidden | attr::archive);
    EXPECT_EQ(secret->size, 1u);

    const std::u16string plain = u(at("plain"));
    EXPECT_EQ(sys_->get_attributes(plain), attr::archive);
    ASSERT_TRUE(sys_->set_attributes(plain, attr::archive | attr::readonly));
    struct stat st;
    ASSERT_EQ(::stat(at("plain").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(sys_->get_attributes(plain), attr::archive | attr::readonly);
    ASSERT_TRUE(sys_->set_attributes(plain, attr::archive));
    ASSERT_EQ(::stat(at("plain").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST_F(PosixBackend, InvalidUtf8NamesRoundTrip) {
    make_file("bad\xFFname", "content");
    const auto entry = find(root_, "bad\xFFname", SearchDetail::full);
    ASSERT_TRUE(entry);
    EXPECT_NE(entry->name.find(char16_t(0xDCFF)), std::u16string::npos);
    auto in = sys_->open_read(u(root_) + u"/" + entry->name, false);
    ASSERT_TRUE(in);
    char buffer[16];
    EXPECT_EQ(in->read(buffer, sizeof buffer), 7);
    EXPECT_EQ(std::string(buffer, 7), "content");
    EXPECT_EQ(in->read(buffer, sizeof buffer), 0);
}

TEST_F(PosixBackend, NamedStreamsAndDosAttributes) {
    make_file("f");
    const std::string f = at("f");
    ASSERT_EQ(::setxattr(f.c_str(), "user.plain", "hello", 5, 0), 0) << "no user xattrs";
    ASSERT_EQ(::setxattr(f.c_str(), "user.DosStream.Zone:$DATA", "abc", 4, 0), 0);
    ASSERT_EQ(::setxattr(f.c_str(), "user.DOSATTRIB", "0x23", 5, 0), 0);
    const auto listing = sys_->named_streams(u(f));
    EXPECT_EQ(listing.status, platform::StreamListing::Status::listed);
    const auto& streams = listing.streams;
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].name, u":plain:$DATA");
    EXPECT_EQ(streams[0].size, 5);
    EXPECT_EQ(streams[1].name, u":Zone:$DATA");
    EXPECT_EQ(streams[1].size, 3);
    char buffer[16];
    auto zone = sys_->open_read(u(f + ":Zone:$DATA"), false);
    ASSERT_TRUE(zone);
    ASSERT_EQ(zone->read(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    auto plain = sys_->open_read(u(f + ":plain"), false);
    ASSERT_TRUE(plain);
    ASSERT_EQ(plain->read(buffer, sizeof buffer), 5);
    EXPECT_FALSE(sys_->open_read(u(f + ":none"), false));

    EXPECT_EQ(sys_->get_attributes(u(f)), 0x23u);
    EXPECT_EQ(find(root_, "f", SearchDetail::full)->attributes, 0x23u);
    ASSERT_TRUE(sys_->set_attributes(u(f), attr::archive));
    char value[16] = {};
    ASSERT_GT(::getxattr(f.c_str(), "user.DOSATTRIB", value, sizeof value), 0);
    EXPECT_STREQ(value, "0x20");
    EXPECT_EQ(sys_->get_attributes(u(f)), attr::archive);
}

TEST(PosixDosAttributes, RewriteKeepsTheBinaryRecord) {
    using platform::posix::rewrite_dos_attributes;
    // Text, zero, padding, version 3, level 3, flags word, then the bits.
    std::string blob("0x20\0\0\3\0\3\0\0\0\1\0\0\0\x20\0\0\0\xAA", 21);
    const std::string updated = rewrite_dos_attributes(blob, 0x421);
    ASSERT_EQ(updated.size(), blob.size() + 4);  // grew by four digits, alignment kept
    EXPECT_EQ(updated.substr(0, 8), "0x000421");
    EXPECT_EQ(updated.substr(20, 5), std::string("\x21\x04\0\0\xAA", 5));
    EXPECT_EQ(platform::posix::parse_dos_attributes(updated), 0x421u);
    EXPECT_EQ(rewrite_dos_attributes(std::string("0x20\0", 5), 0x1), std::string("0x01\0", 5));
}

TEST(PosixVolumeNames, EscapesAndSerials) {
    using namespace platform::posix;
    EXPECT_EQ(unescape_octal("/mnt/my\\040disk\\134x"), "/mnt/my disk\\x");
    EXPECT_EQ(decode_label("USB\\x20STICK\\x2f1"), "USB STICK/1");
    EXPECT_EQ(serial_from_uuid("ABCD-1234"), 0xABCD1234u);
    EXPECT_EQ(serial_from_uuid("96b85fba-0c4e-4c1d-9d53-0e6f5d0a2b11"), 0x96B85FBAu);
    EXPECT_FALSE(serial_from_uuid("1234"));
    EXPECT_EQ(serial_from_uuid("5E2C8A1F2C89F3B1"), 0x2C89F3B1u);  // NTFS: the low half
}

TEST_F(PosixBackend, FullPathIsLexical) {
    const std::string cwd = std::filesystem::current_path();
    const struct {
        const char* in;
        std::string out;
    } cases[] = {
        {"/a/b/../c", "/a/c"}, {"/a/./b//c/", "/a/b/c/"}, {"/..", "/"},  {"/", "/"},
        {"//x/.", "/x"},       {"x/y", cwd + "/x/y"},     {"x/..", cwd},
    };
    for (const auto& c : cases) EXPECT_EQ(sys_->full_path(u(c.in)), u(c.out)) << c.in;
    EXPECT_FALSE(sys_->full_path(u""));
}

TEST_F(PosixBackend, TimesInFileTicks) {
    make_file("t");
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 123456700}};
    ASSERT_EQ(::utimensat(AT_FDCWD, at("t").c_str(), times, 0), 0);
    const platform::FileTicks expected = (1000000000ull + 11644473600ull) * 10000000ull + 1234567;
    platform::FileTicks c = 0, a = 0, w = 0;
    ASSERT_TRUE(sys_->get_times(u(at("t")), c, a, w));
    EXPECT_EQ(w, expected);
    EXPECT_EQ(a, expected - 1234567);
    EXPECT_EQ(find(root_, "t", SearchDetail::full)->write, expected);
    ASSERT_TRUE(sys_->set_times(u(at("t")), 0, 0, expected + 10));
    ASSERT_TRUE(sys_->get_times(u(at("t")), c, a, w));
    EXPECT_EQ(w, expected + 10);
    EXPECT_FALSE(sys_->get_times(u(at("none")), c, a, w));

    const auto epoch = sys_->to_utc(0);
    ASSERT_TRUE(epoch);
    EXPECT_EQ(epoch->year, 1601);
    EXPECT_EQ(epoch->weekday, 1);  // a Monday
    const auto t = sys_->to_utc(expected);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->year, 2001);
    EXPECT_EQ(t->month, 9);
    EXPECT_EQ(t->day, 9);
    EXPECT_EQ(t->hour, 1);
    EXPECT_EQ(t->minute, 46);
    EXPECT_EQ(t->second, 40);
    EXPECT_EQ(t->millisecond, 123);
}

TEST_F(PosixBackend, ChildProcesses) {
    EXPECT_EQ(sys_->run_shell({u"exit $(printf %s ", u"a'b; c", u" | wc -c)"}), 6);
    EXPECT_EQ(sys_->spawn(u"/bin/sh", {u"-c", u"exit 3"}), 3);
    EXPECT_EQ(sys_->spawn(u"/nonexistent/program", {}), -1);
    const auto sh = sys_->search_path(u"sh", u"");
    ASSERT_TRUE(sh);
    EXPECT_EQ(sh->back(), u'h');
}

TEST_F(PosixBackend, VolumesAndOutput) {
    const auto info = sys_->volume_info(u(root_));
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->file_system.empty());
    EXPECT_TRUE(sys_->free_space(u(root_)));
    EXPECT_NE(sys_->last_access_setting(u(root_)), platform::last_access_not_found);
    EXPECT_FALSE(sys_->volume_info(u(at("missing"))));

    auto sink = sys_->open_text(u(at("out.txt")), platform::OpenMode::write);
    ASSERT_TRUE(sink);
    ASSERT_TRUE(sink->write("one\n", 4));
    ASSERT_TRUE(sink->close());
    sink = sys_->open_text(u(at("out.txt")), platform::OpenMode::append);
    ASSERT_TRUE(sink && sink->write("two\n", 4) && sink->close());
    EXPECT_EQ(std::filesystem::file_size(at("out.txt")), 8u);
    EXPECT_EQ(sys_->owner_of(u(at("out.txt"))).status, platform::OwnerLookup::Status::ok);
    EXPECT_EQ(sys_->owner_of(u(at("missing"))).status,
              platform::OwnerLookup::Status::no_descriptor);
}

}  // namespace

// The walk delivers a batch of files before their records ask for their
// contents and streams: what it saw of each answers for the one asked,
// not for the last delivered.
class PosixWalkBatch : public PosixBackend {
protected:
    // Lists the whole directory as the walk does, every entry delivered.
    void walk_all() {
        dir_ = sys_->open_directory(u(root_));
        ASSERT_TRUE(dir_);
        FindData entry;
        search_ = sys_->search_directory(*dir_, u(root_ + "/"), u"*.*", entry, SearchDetail::full);
        ASSERT_TRUE(search_);
        while (search_->next(entry)) {
        }
    }
    // The contents and the states before and after their reading.
    struct Read {
        std::string bytes;
        std::optional<platform::FileState> before, after;
    };
    Read read_entry(const std::string& name) {
        Read r;
        auto file = sys_->open_entry(u(at(name)), false);
        if (!file) return r;
        r.before = file->state();
        char buffer[4096];
        for (long long n; (n = file->read(buffer, sizeof buffer)) > 0;)
            r.bytes.append(buffer, static_cast<std::size_t>(n));
        r.after = file->state();
        return r;
    }
    std::unique_ptr<platform::DirHandle> dir_;
    std::unique_ptr<platform::DirSearch> search_;
};

TEST_F(PosixWalkBatch, StreamsOfEveryFileOfABatch) {
    const struct {
        const char* name;
        const char* stream;  // a user attribute, or none
    } files[] = {
        {"a01", "user.first"}, {"a02", nullptr},     {"a03", nullptr},
        {"a04", "user.mid"},   {"a05", nullptr},     {"a06", "user.DosStream.Zone:$DATA"},
        {"a07", nullptr},      {"a08", "user.last"}, {"a09", nullptr},
    };
    for (const auto& f : files) {
        make_file(f.name, "content");
        if (f.stream) {
            ASSERT_EQ(::setxattr(at(f.name).c_str(), f.stream, "v", 1, 0), 0);
        }
    }
    walk_all();
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const auto listing = sys_->named_streams(u(at(f.name)));
        EXPECT_EQ(listing.status, platform::StreamListing::Status::listed);
        EXPECT_EQ(listing.streams.size(), f.stream ? 1u : 0u);
    }
}

TEST_F(PosixWalkBatch, AFileReplacedAfterTheWalkIsNotTakenForIt) {
    make_file("kept", "0123456789");
    make_file("swapped", "0123456789");
    make_file("empty", "");
    walk_all();
    // Another file of the same size takes the name after the listing.
    make_file("other", "abcdefghij");
    ASSERT_EQ(::rename(at("other").c_str(), at("swapped").c_str()), 0);
    const struct {
        const char* name;
        const char* bytes;
        bool held_still;
    } cases[] = {
        {"kept", "0123456789", true},
        {"empty", "", true},
        {"swapped", "abcdefghij", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = read_entry(c.name);
        ASSERT_TRUE(r.before && r.after);
        EXPECT_EQ(r.bytes, c.bytes);
        EXPECT_EQ(r.before->size, r.bytes.size());
        EXPECT_EQ(*r.before == *r.after, c.held_still);
    }
}

TEST_F(PosixWalkBatch, AFileGrownAfterItsLastBytesWereReadIsSeenChanged) {
    make_file("grows", "0123456789");
    walk_all();
    auto file = sys_->open_entry(u(at("grows")), false);
    ASSERT_TRUE(file);
    const auto before = file->state();
    char buffer[64];
    ASSERT_EQ(file->read(buffer, sizeof buffer), 10);
    const int fd = ::open(at("grows").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "more", 4), 4);
    ::close(fd);
    // Whether this read sees the new bytes or not, the state tells of them.
    const long long more = file->read(buffer, sizeof buffer);
    EXPECT_TRUE(more == 0 || more == 4) << more;
    const auto after = file->state();
    ASSERT_TRUE(before && after);
    EXPECT_NE(*before, *after);
    EXPECT_EQ(after->size, 14u);
}

TEST_F(PosixWalkBatch, AnOpenMadeReadyByTheWalkIsDoneOnAnotherThreadAfterIt) {
    make_file("kept", "0123456789");
    make_file("swapped", "0123456789");
    make_file("gone", "0123456789");
    walk_all();
    const char* names[] = {"kept", "swapped", "gone"};
    std::vector<std::unique_ptr<platform::PendingOpen>> pending;
    for (const char* name : names) pending.push_back(sys_->prepare_entry_open(u(at(name))));
    // The walk has let its directory go before the reading thread opens.
    search_.reset();
    dir_.reset();
    make_file("other", "abcdefghij");
    ASSERT_EQ(::rename(at("other").c_str(), at("swapped").c_str()), 0);
    ASSERT_EQ(::unlink(at("gone").c_str()), 0);
    struct Seen {
        bool opened = false;
        std::string bytes;
        bool held_still = false;
    };
    std::vector<Seen> seen(pending.size());
    std::thread reader([&] {
        for (std::size_t i = 0; i < pending.size(); ++i) {
            auto file = pending[i]->open();
            if (!file) continue;
            seen[i].opened = true;
            const auto before = file->state();
            char buffer[64];
            for (long long n; (n = file->read(buffer, sizeof buffer)) > 0;)
                seen[i].bytes.append(buffer, static_cast<std::size_t>(n));
            const auto after = file->state();
            seen[i].held_still = before && after && *before == *after;
        }
    });
    reader.join();
    EXPECT_TRUE(seen[0].opened && seen[0].held_still);
    EXPECT_EQ(seen[0].bytes, "0123456789");
    // Another file under the name is read as one changed since the listing.
    EXPECT_TRUE(seen[1].opened);
    EXPECT_FALSE(seen[1].held_still);
    EXPECT_FALSE(seen[2].opened);
}

// A walk that reads the small files it lists hands over their bytes and
// their states from then: what a file held as it was listed, whatever
// takes its name afterwards. Nothing else is read so: a file too large, a
// link, a pipe (never waited on), a directory's only file.
TEST_F(PosixWalkBatch, SmallFilesReadAsTheyAreListedAreHandedOverWhole) {
    const std::string eight_k(8192, 'k');
    make_file("small", "0123456789");
    make_file("empty", "");
    make_file("limit", eight_k);
    make_file("large", eight_k + "!");
    make_file("streams", "s");
    ASSERT_EQ(::setxattr(at("streams").c_str(), "user.note", "v", 1, 0), 0);
    ASSERT_EQ(::symlink("small", at("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(at("alone").c_str(), 0755), 0);
    make_file("alone/only", "1");
    sys_->read_small_files_when_listed(8192);
    walk_all();
    // Replaced after the listing: the bytes read then are still the file's.
    make_file("other", "abcdefghij");
    ASSERT_EQ(::rename(at("other").c_str(), at("small").c_str()), 0);
    const struct {
        const char* name;
        bool read_already;
        std::string bytes;
    } cases[] = {
        {"small", true, "0123456789"}, {"empty", true, ""},  {"limit", true, eight_k},
        {"streams", true, "s"},        {"large", false, ""}, {"link", false, ""},
        {"pipe", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pending = sys_->prepare_entry_open(u(at(c.name)));
        ASSERT_TRUE(pending);
        EXPECT_EQ(pending->in_memory(), c.read_already);
        if (!c.read_already) continue;
        const auto file = pending->open();
        ASSERT_TRUE(file);
        const auto before = file->state();
        std::string bytes;
        char buffer[1000];
        for (long long n; (n = file->read(buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, static_cast<std::size_t>(n));
        const auto after = file->state();
        EXPECT_EQ(bytes, c.bytes);
        ASSERT_TRUE(before && after);
        EXPECT_EQ(before->size, c.bytes.size());
        EXPECT_EQ(*before, *after);
    }
    // Its attribute names were read through its descriptor.
    EXPECT_EQ(sys_->named_streams(u(at("streams"))).streams.size(), 1u);
    EXPECT_TRUE(sys_->named_streams(u(at("empty"))).streams.empty());

    search_.reset();
    dir_ = sys_->open_directory(u(at("alone")));
    ASSERT_TRUE(dir_);
    FindData entry;
    search_ = sys_->search_directory(*dir_, u(at("alone/")), u"*.*", entry, SearchDetail::full);
    ASSERT_TRUE(search_);
    while (search_->next(entry)) {
    }
    EXPECT_FALSE(sys_->prepare_entry_open(u(at("alone/only")))->in_memory());
    sys_->read_small_files_when_listed(0);
}

// What all listings hold in contents is bounded (a deep tree keeps the
// listing of every directory above the walk), and given back as they go.
TEST_F(PosixWalkBatch, ContentsReadAsListedAreBoundedAndGivenBack) {
    const std::string block(8000, 'b');
    const std::size_t files = 1200;  // 9.6 MB of contents
    for (std::size_t i = 0; i < files; ++i) {
        std::string name = std::to_string(i);
        name.insert(name.begin(), 'f');
        make_file(name, block);
    }
    sys_->read_small_files_when_listed(8192);
    for (int walk = 0; walk < 2; ++walk) {
        SCOPED_TRACE(walk);
        const auto dir = sys_->open_directory(u(root_));
        ASSERT_TRUE(dir);
        FindData entry;
        auto search =
            sys_->search_directory(*dir, u(root_ + "/"), u"*.*", entry, SearchDetail::full);
        ASSERT_TRUE(search);
        std::size_t read_already = 0;
        do {
            if (entry.attributes & attr::directory) continue;
            read_already += sys_->prepare_entry_open(u(root_ + "/") + entry.name)->in_memory();
        } while (search->next(entry));
        EXPECT_GT(read_already, files / 2);
        EXPECT_LT(read_already, files);
    }
    sys_->read_small_files_when_listed(0);
}

// The reader ahead gives way to the digest thread: its own priority
// drops ten steps, down to the lowest; the other threads keep theirs.
TEST(PosixThreadPriority, LowersTheCallingThreadOnly) {
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int process = ::getpriority(PRIO_PROCESS, self);
    ASSERT_EQ(errno, 0);
    struct Case {
        int start;  // the thread's priority before the call
        int expected;
    };
    std::vector<Case> cases = {{15, 19}, {19, 19}};
    if (process <= 9) cases.push_back({process, process + 10});
    for (const Case& c : cases) {
        int before = -100;
        int after = -100;
        std::thread([&] {
            const auto tid = static_cast<id_t>(::gettid());
            if (::setpriority(PRIO_PROCESS, tid, c.start) != 0) return;
            before = ::getpriority(PRIO_PROCESS, tid);
            platform::posix::lower_thread_priority();
            after = ::getpriority(PRIO_PROCESS, tid);
        }).join();
        EXPECT_EQ(before, c.start);
        EXPECT_EQ(after, c.expected) << "from " << c.start;
        EXPECT_EQ(::getpriority(PRIO_PROCESS, self), process);
    }
}
