// Large files hashed from a mapping on the Linux backend: the digests equal
// those of the same bytes fed whole, and a file truncated under its mapping
// neither ends the process nor passes for unchanged.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "content/digests.hpp"
#include "platform/forwarding_system.hpp"
#include "platform/posix/posix_system.hpp"

using namespace filarix;

namespace {

constexpr std::uint64_t mib = 1024 * 1024;

// Bytes that differ from place to place, so that a piece hashed twice,
// skipped or out of order changes the digests.
std::string varied_bytes(std::size_t n) {
    std::string bytes(n, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return bytes;
}

std::string failure_text(DigestId id) {
    for (const DigestRow& row : digest_rows)
        if (row.id == id) return std::string(row.failure_text);
    return {};
}

// Files of the real backend, with the digest threads as a test sets them,
// and an open that may truncate the file between the state it reports
// first and the mapping.
class TestSystem final : public platform::ForwardingSystem {
public:
    explicit TestSystem(platform::System& inner) : ForwardingSystem(inner) {}

    std::optional<std::u16string> get_env(std::u16string_view name) override {
        if (name == digest_threads_variable) return threads;
        return inner().get_env(name);
    }
    std::unique_ptr<platform::InputFile> open_entry(std::u16string_view path,
                                                    bool fallback_route) override {
        auto file = inner().open_entry(path, fallback_route);
        if (!file || !cut_to) return file;
        return std::make_unique<CutWhenMapped>(std::move(file), inner().narrow(path), *cut_to,
                                               state_tells);
    }
    bool reads_on_other_threads() const override { return inner().reads_on_other_threads(); }
    std::unique_ptr<platform::PendingOpen> prepare_entry_open(std::u16string_view path) override {
        return std::make_unique<platform::OpenedNow>(open_entry(path, false));
    }

    std::u16string threads = u"2";
    // The file is cut to this size just before its first mapping.
    std::optional<std::uint64_t> cut_to;
    // false: the state after the hashing is the one before, as on a file
    // system whose times are too coarse to move and a file cut and grown
    // back; only the vanished pages tell.
    bool state_tells = true;

private:
    class CutWhenMapped final : public platform::InputFile {
    public:
        CutWhenMapped(std::unique_ptr<platform::InputFile> inner, std::string path,
                      std::uint64_t cut_to, bool state_tells)
            : inner_(std::move(inner)),
              path_(std::move(path)),
              cut_to_(cut_to),
              state_tells_(state_tells) {}
        long long read(void* buffer, std::size_t size) override {
            return inner_->read(buffer, size);
        }
        bool seek(std::uint64_t offset) override { return inner_->seek(offset); }
        std::optional<platform::FileState> state() override {
            if (!state_tells_ && first_) return first_;
            first_ = inner_->state();
            return first_;
        }
        std::unique_ptr<platform::MappedBytes> map(std::uint64_t offset,
                                                   std::size_t size) override {
            if (!cut_) {
                // Another descriptor, as another program would.
                EXPECT_EQ(::truncate(path_.c_str(), static_cast<off_t>(cut_to_)), 0);
                cut_ = true;
            }
            return inner_->map(offset, size);
        }

    private:
        std::unique_ptr<platform::InputFile> inner_;
        std::string path_;
        std::uint64_t cut_to_;
        bool state_tells_;
        bool cut_ = false;
        std::optional<platform::FileState> first_;
    };
};

class MappedDigests : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/filarix_mapped_XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        root_ = templ;
        posix_ = platform::make_posix_system();
        sys_ = std::make_unique<TestSystem>(*posix_);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::string make_file(const std::string& bytes, const std::string& name = "f.bin") {
        const std::string path = root_ + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        return path;
    }

    std::string root_;
    std::unique_ptr<platform::System> posix_;
    std::unique_ptr<TestSystem> sys_;
};

// Digests hashed from a mapping: BLAKE3 alone, in halves on two cores,
// and CRC-32 with XXH3, shared between two threads.
constexpr DigestRequest blake3_alone{.digests = {DigestId::blake3}};
constexpr DigestRequest crc_and_xxh3{.digests = {DigestId::crc, DigestId::xxh3}};

TEST_F(MappedDigests, MappedWindowsGiveTheDigestsOfTheBytes) {
    // Lengths about the mapping threshold, BLAKE3's pieces and a window's
    // end; windows that begin within a page and end within the file.
    const struct {
        std::uint64_t size;
        std::int64_t begin;
        std::int64_t end;
    } cases[] = {
        {mib - 1, 0, 0},           {mib, 0, 0},
        {mib + 1, 0, 0},           {4 * mib - 1, 0, 0},
        {4 * mib + 1025, 0, 0},    {8 * mib, 0, 0},
        {32 * mib - 1, 0, 0},      {32 * mib, 0, 0},
        {32 * mib + 4097, 0, 0},   {9 * mib, 4095, 0},
        {9 * mib, 4097, 0},        {40 * mib, 3 * mib + 7, 36 * mib - 3},
        {2 * mib, 1, 1 * mib + 2}, {64 * mib + 3, 4097, 0},
    };
    for (const auto& c : cases) {
        const std::string bytes = varied_bytes(static_cast<std::size_t>(c.size));
        const std::string path = make_file(bytes);
        const std::size_t end = c.end > 0 ? static_cast<std::size_t>(c.end) : bytes.size();
        for (const DigestRequest& want : {blake3_alone, crc_and_xxh3}) {
            DigestFeed whole(want);
            whole.update(reinterpret_cast<const unsigned char*>(bytes.data()) + c.begin,
                         end - static_cast<std::size_t>(c.begin));
            const DigestTexts expected = whole.finish();
            for (const char16_t* threads : {u"1", u"2"}) {
                SCOPED_TRACE(testing::Message() << c.size << " bytes from " << c.begin << " to "
                                                << c.end << ", threads " << (threads[0] - u'0')
                                                << ", digests " << want.digests.bits());
                sys_->threads = threads;
                filarix::Run run(*sys_);
                run.s.DISPLACE = c.begin;
                run.s.displace_end = c.end;
                DigestEngine engine;
                const DigestTexts t = digest_file(run, engine, sys_->wide(path), want);
                EXPECT_TRUE(t.read_ok);
                EXPECT_EQ(t.texts, expected.texts);
            }
        }
    }
}

TEST_F(MappedDigests, AFileCutUnderItsMappingIsReportedChanged) {
    const struct {
        const char* what;
        std::uint64_t size;
        std::uint64_t cut_to;
        bool state_tells;
    } cases[] = {
        {"cut to nothing", 6 * mib, 0, true},
        {"cut within a page", 6 * mib, 3 * 4096 + 5, true},
        {"cut past the first window", 40 * mib, 33 * mib, true},
        {"cut, the state unmoved", 6 * mib, mib, false},
        {"cut past the first window, the state unmoved", 40 * mib, 33 * mib, false},
    };
    for (const auto& c : cases) {
        for (const DigestRequest& want : {blake3_alone, crc_and_xxh3}) {
            for (const char16_t* threads : {u"1", u"2"}) {
                SCOPED_TRACE(testing::Message() << c.what << ", threads " << (threads[0] - u'0')
                                                << ", digests " << want.digests.bits());
                const std::string path = make_file(varied_bytes(static_cast<std::size_t>(c.size)));
                sys_->threads = threads;
                sys_->cut_to = c.cut_to;
                sys_->state_tells = c.state_tells;
                filarix::Run run(*sys_);
                DigestEngine engine;
                const DigestTexts t =
                    digest_file(run, engine, sys_->wide(path), want, false, c.size);
                EXPECT_FALSE(t.read_ok);
                EXPECT_TRUE(t.changed);
                EXPECT_EQ(run.counts.changed_while_read, 1u);
                for (const DigestId id : {DigestId::crc, DigestId::xxh3, DigestId::blake3})
                    if (want.digests.has(id)) {
                        EXPECT_EQ(t.of(id), failure_text(id));
                    }
            }
        }
    }
}

TEST_F(MappedDigests, FilesHashedAheadOfTheirRecordsAreMappedToo) {
    const std::size_t sizes[] = {mib + 1, 2 * mib, 33 * mib + 5};
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut to nothing" : "untouched");
        sys_->cut_to = cut ? std::optional<std::uint64_t>(0) : std::nullopt;
        std::vector<AheadFile> files;
        std::vector<std::string> texts;
        for (const std::size_t size : sizes) {
            const std::string bytes = varied_bytes(size);
            const std::string path = make_file(bytes, std::to_string(size));
            files.push_back({sys_->wide(path), blake3_alone.digests, size});
            DigestFeed whole(blake3_alone);
            whole.update(reinterpret_cast<const unsigned char*>(bytes.data()), size);
            texts.push_back(whole.finish().of(DigestId::blake3));
        }
        filarix::Run run(*sys_);
        DigestEngine engine;
        ASSERT_TRUE(engine.reads_ahead(*sys_));
        engine.read_ahead(run, std::vector<AheadFile>(files));  // the queue takes the paths
        for (std::size_t i = 0; i < files.size(); ++i) {
            const DigestTexts t =
                digest_file(run, engine, files[i].path, blake3_alone, false, files[i].listed_size);
            EXPECT_EQ(t.changed, cut);
            EXPECT_EQ(t.of(DigestId::blake3), cut ? failure_text(DigestId::blake3) : texts[i]);
        }
        EXPECT_EQ(run.counts.changed_while_read, cut ? files.size() : 0u);
    }
}

}  // namespace
