// The digest file routine on the in-memory platform: texts, failure texts,
// the displacement window, both open routes, read errors and the record.
#include "content/digests.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

constexpr DigestRequest all{.digests = {DigestId::crc, DigestId::md5, DigestId::sha1}};

// Digests of "123456789" and of nothing.
constexpr const char* digits_crc = "CBF43926";
constexpr const char* digits_md5 = "25F9E794323B453885F5181F1B624D0B";
constexpr const char* digits_sha1 = "F7C3BC1D808E04732ADF679965CCC34CA7AE3441";
constexpr const char* empty_crc = "00000000";
constexpr const char* empty_md5 = "D41D8CD98F00B204E9800998ECF8427E";
constexpr const char* empty_sha1 = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

class Digests : public ::testing::Test {
protected:
    DigestTexts digest(std::u16string_view path, std::int64_t begin = 0, std::int64_t end = 0) {
        filarix::Run run(mp);
        DigestEngine engine;
        run.s.DISPLACE = begin;
        run.s.displace_end = end;
        return digest_file(run, engine, path, all);
    }
    MemoryPlatform mp;
};

TEST_F(Digests, PublishedValuesAndTheEmptyFile) {
    mp.add_file(u"C:\\d\\digits", "123456789");
    mp.add_file(u"C:\\d\\empty", "");
    DigestTexts t = digest(u"\\\\?\\C:\\d\\digits");
    EXPECT_TRUE(t.read_ok);
    EXPECT_EQ(t.of(DigestId::crc), digits_crc);
    EXPECT_EQ(t.crc_value, 0xCBF43926u);
    EXPECT_EQ(t.of(DigestId::md5), digits_md5);
    EXPECT_EQ(t.of(DigestId::sha1), digits_sha1);
    t = digest(u"C:\\d\\empty");
    EXPECT_EQ(t.of(DigestId::crc), empty_crc);
    EXPECT_EQ(t.of(DigestId::md5), empty_md5);
    EXPECT_EQ(t.of(DigestId::sha1), empty_sha1);
}

TEST_F(Digests, PublishedMessagesThroughBothKernelPaths) {
    const struct {
        std::string message;
        const char* md5;
        const char* sha1;
    } cases[] = {
        {"", empty_md5, empty_sha1},
        {"a", "0CC175B9C0F1B6A831C399E269772661", "86F7E437FAA5A7FCE15D1DDCB9EAEAEA377667B8"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0",
         "C12252CEDA8BE8994D5FA0290A47231C1D16AAE3"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B",
         "32D10C7B8CF96570CA04CE37F2A19D84240D3A89"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "8215EF0796A20BCAAAE116D3876C664A", "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {std::string(1000000, 'a'), "7707D6AE4E027C70EEA2A935C2296F21",
         "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
    for (bool hardware : {true, false}) {
        for (const auto& c : cases) {
            mp.add_file(u"C:\\d\\m", c.message);
            filarix::Run run(mp);
            DigestEngine engine;
            const DigestTexts t = digest_file(
                run, engine, u"C:\\d\\m",
                {.digests = {DigestId::crc, DigestId::md5, DigestId::sha1}, .hardware = hardware});
            EXPECT_EQ(t.of(DigestId::md5), c.md5) << c.message.size() << " " << hardware;
            EXPECT_EQ(t.of(DigestId::sha1), c.sha1) << c.message.size() << " " << hardware;
        }
    }
}

// A file of several 256 KiB reads: the fastest kernel hashes each read on
// one core when it is AVX-512's, the portable one in two halves on two
// threads; b3sum's digits (1 MiB + 7 bytes, byte i is i mod 251) either way.
TEST_F(Digests, Blake3OfLargeReadsOnBothKernelPaths) {
    std::string bytes(1048576 + 7, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
    mp.add_file(u"C:\\d\\big", bytes);
    for (bool hardware : {true, false}) {
        filarix::Run run(mp);
        DigestEngine engine;
        const DigestTexts t = digest_file(run, engine, u"C:\\d\\big",
                                          {.digests = {DigestId::blake3}, .hardware = hardware});
        EXPECT_TRUE(t.read_ok);
        EXPECT_EQ(t.of(DigestId::blake3),
                  "89541F1047F7A56806FE16EFDA4C2CDC45F141C838E413019F0124189FA55232")
            << "hardware " << hardware;
    }
}

TEST_F(Digests, PaddingEdgesAgreeAcrossKernelPaths) {
    for (std::size_t length : {55, 56, 57, 63, 64, 65, 119, 120, 128}) {
        mp.add_file(u"C:\\d\\edge", std::string(length, 'q'));
        filarix::Run run(mp);
        DigestEngine engine;
        const DigestTexts fast = digest_file(run, engine, u"C:\\d\\edge", all);
        const DigestTexts plain = digest_file(
            run, engine, u"C:\\d\\edge",
            {.digests = {DigestId::crc, DigestId::md5, DigestId::sha1}, .hardware = false});
        EXPECT_EQ(fast.of(DigestId::crc), plain.of(DigestId::crc)) << length;
        EXPECT_EQ(fast.of(DigestId::sha1), plain.of(DigestId::sha1)) << length;
        EXPECT_EQ(fast.of(DigestId::md5), plain.of(DigestId::md5)) << length;
    }
}

TEST_F(Digests, OnlyTheDigestsAskedForAreMade) {
    mp.add_file(u"C:\\d\\digits", "123456789");
    filarix::Run run(mp);
    DigestEngine engine;
    const DigestTexts t = digest_file(run, engine, u"C:\\d\\digits", {.digests = {DigestId::md5}});
    EXPECT_TRUE(t.of(DigestId::crc).empty());
    EXPECT_EQ(t.of(DigestId::md5), digits_md5);
    EXPECT_TRUE(t.of(DigestId::sha1).empty());
    EXPECT_EQ(mp.read_opens.size(), 1u);
}

TEST_F(Digests, DisplacementWindowTable) {
    mp.add_file(u"C:\\d\\f", "xx123456789yy");
    const struct {
        std::int64_t begin, end;
        const char* crc;
    } cases[] = {
        {2, 11, digits_crc},  // the digits alone
        {2, 0, "0A26D900"},   // from the digits to the end of the file: "123456789yy"
        {100, 0, empty_crc},  // past the end: nothing
        {5, 3, empty_crc},    // an end before the start: nothing
        {-7, 0, "AC64768D"},  // a negative start counts as 0: the whole file
    };
    for (const auto& c : cases) {
        const DigestTexts t = digest(u"C:\\d\\f", c.begin, c.end);
        EXPECT_TRUE(t.read_ok);
        EXPECT_EQ(t.of(DigestId::crc), c.crc) << c.begin << "," << c.end;
    }
}

TEST_F(Digests, DisplacementIsAFullSixtyFourBitOffset) {
    // The digits, then 4 GiB of zeros: a displacement of exactly 4 GiB must
    // not be taken for the start of the file.
    Node& huge = mp.add_file(u"C:\\d\\huge", "123456789");
    huge.content->zero_tail = 4ull << 30;
    const auto four_gib = static_cast<std::int64_t>(4ull << 30);
    EXPECT_EQ(digest(u"C:\\d\\huge", four_gib, four_gib + 9).of(DigestId::crc),
              "E60914AE");  // nine zeros
    EXPECT_EQ(digest(u"C:\\d\\huge", four_gib + 9).of(DigestId::crc), empty_crc);
}

TEST_F(Digests, FailureTextsKeepTheirWidths) {
    mp.add_file(u"C:\\d\\locked", "x", {.locked = true});
    const DigestTexts t = digest(u"C:\\d\\locked");
    EXPECT_FALSE(t.read_ok);
    EXPECT_EQ(t.of(DigestId::crc), "CRCERROR");
    EXPECT_EQ(t.of(DigestId::md5), "- ERROR - FILE POSSIBLY LOCKED -");
    EXPECT_EQ(t.of(DigestId::sha1), "-- ERROR - FILE POSSIBLY LOCKED BY OS --");
    EXPECT_EQ(t.of(DigestId::md5).size(), 32u);
    EXPECT_EQ(t.of(DigestId::sha1).size(), 40u);
    EXPECT_EQ(digest(u"C:\\d\\missing").of(DigestId::crc), "CRCERROR");
}

// Two feeds fed together give every digest each would alone, also when
// they ask for different digests.
TEST_F(Digests, TwoFeedsAtOnceEqualEachAlone) {
    constexpr DigestRequest all{.digests = {DigestId::crc, DigestId::md5, DigestId::sha1,
                                            DigestId::sha256, DigestId::sha512, DigestId::sha3,
                                            DigestId::xxh3}};
    constexpr DigestRequest sha256{.digests = {DigestId::sha256}};
    std::string a(100003, '\0'), b(100003, '\0');
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<char>(i * 131 % 251);
        b[i] = static_cast<char>(i * 7 % 253);
    }
    const auto bytes = [](const std::string& s) {
        return reinterpret_cast<const unsigned char*>(s.data());
    };
    for (const DigestRequest second : {all, sha256}) {
        DigestFeed alone_a(all), alone_b(second), two_a(all), two_b(second);
        alone_a.update(bytes(a), a.size());
        alone_b.update(bytes(b), b.size());
        DigestFeed::update_two(two_a, bytes(a), two_b, bytes(b), a.size());
        EXPECT_EQ(two_a.finish().texts, alone_a.finish().texts);
        EXPECT_EQ(two_b.finish().texts, alone_b.finish().texts);
    }
}

// Files past one read slot go to the worker thread: every digest and every
// failure must be what the reading thread alone gives.
TEST_F(Digests, TheWorkerThreadChangesNothing) {
    constexpr DigestRequest six{.digests = {DigestId::crc, DigestId::md5, DigestId::sha1,
                                            DigestId::sha256, DigestId::sha512, DigestId::sha3}};
    std::string data(3 << 20 | 7, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 % 251);
    mp.add_file(u"C:\\d\\big", data);
    const struct {
        std::int64_t begin, end;
    } windows[] = {{0, 0}, {1, 0}, {5, (1 << 20) + 3}, {(2 << 20) + 1, 0}, {10, 11}};
    const auto texts = [&](bool one_thread, std::int64_t begin, std::int64_t end) {
        if (one_thread)
            mp.env.insert_or_assign(u"FILARIX_DIGEST_THREADS", std::u16string(1, u'1'));
        else
            mp.env.erase(u"FILARIX_DIGEST_THREADS");
        filarix::Run run(mp);
        DigestEngine engine;
        run.s.DISPLACE = begin;
        run.s.displace_end = end;
        const DigestTexts t = digest_file(run, engine, u"C:\\d\\big", six);
        std::string all_texts;
        for (const std::string& text : t.texts) all_texts.append(text).push_back(' ');
        return all_texts;
    };
    for (const auto& w : windows)
        EXPECT_EQ(texts(false, w.begin, w.end), texts(true, w.begin, w.end));

    // A read error while the worker holds slots: the failure texts, each
    // as wide as its digest.
    FaultyPlatform faulty(mp);
    faulty.fail(FaultyPlatform::Kind::read, 5);
    filarix::Run run(faulty);
    DigestEngine engine;
    const DigestTexts t = digest_file(run, engine, u"C:\\d\\big", six);
    EXPECT_FALSE(t.read_ok);
    const std::vector<std::pair<std::string, std::size_t>> widths{
        {t.of(DigestId::crc), 8},     {t.of(DigestId::md5), 32},     {t.of(DigestId::sha1), 40},
        {t.of(DigestId::sha256), 64}, {t.of(DigestId::sha512), 128}, {t.of(DigestId::sha3), 64}};
    for (const auto& [text, width] : widths) {
        EXPECT_EQ(text.size(), width) << text;
        EXPECT_NE(text.find("ERROR"), std::string::npos) << text;
    }
}

TEST_F(Digests, FallbackRouteGetsTheSameWindow) {
    mp.add_file(u"C:\\d\\shared", "xx123456789", {.locked_primary = true});
    const DigestTexts t = digest(u"C:\\d\\shared", 2);
    EXPECT_EQ(t.of(DigestId::crc), digits_crc);
    ASSERT_GE(mp.read_opens.size(), 2u);
    EXPECT_TRUE(mp.read_opens.back().fallback_route);
}

TEST_F(Digests, AReadErrorMidFileGivesTheFailureTexts) {
    mp.add_file(u"C:\\d\\bad", std::string(3 << 20, 'z'));
    FaultyPlatform faulty(mp);
    faulty.fail(FaultyPlatform::Kind::read, 2);
    filarix::Run run(faulty);
    DigestEngine engine;
    const DigestTexts t = digest_file(run, engine, u"C:\\d\\bad", all);
    EXPECT_FALSE(t.read_ok);
    EXPECT_EQ(t.of(DigestId::crc), "CRCERROR");
    EXPECT_EQ(t.of(DigestId::md5), "- ERROR - FILE POSSIBLY LOCKED -");
}

// A writer at work while the file is read: the digest would not stand for
// the bytes the record lists, so the failure texts stand and the file is
// counted. Each change is caught by a witness of its own.
TEST_F(Digests, AFileThatChangesWhileReadGetsTheFailureTexts) {
    const std::size_t size = 3 << 20;  // several reads, so a change lands mid-file
    // What happens after read number n (from 1), the one that ends included.
    using Change = std::function<void(Content&, int n)>;
    const struct {
        const char* what;
        Change change;
        std::uint64_t listed;
        bool changed;
    } cases[] = {
        {"untouched", nullptr, size, false},
        {"truncated",
         [](Content& c, int n) {
             if (n == 1) c.bytes.resize(1000);
         },
         size, true},
        {"grown",
         [](Content& c, int n) {
             if (n == 1) c.bytes.append(1 << 20, 'g');
         },
         size, true},
        // Only the change time tells.
        {"rewritten in place",
         [](Content& c, int n) {
             if (n == 1) {
                 c.bytes[0] = 'w';
                 ++c.changed;
             }
         },
         size, true},
        // Size and time back as they were (a clock too coarse to move):
        // only the bytes read tell.
        {"cut short and restored",
         [&](Content& c, int n) {
             if (n == 1) c.bytes.resize(1000);
             if (n == 2) c.bytes.resize(size, 'r');
         },
         size, true},
        // Between the listing and the open: only the listed size tells.
        {"changed since it was listed", nullptr, size - 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Node& f = mp.add_file(u"C:\\d\\f", std::string(size, 'q'));
        int reads = 0;
        if (c.change) f.content->after_read = [&](Content& content) { c.change(content, ++reads); };
        filarix::Run run(mp);
        DigestEngine engine;
        const DigestTexts t = digest_file(run, engine, u"C:\\d\\f", all, false, c.listed);
        EXPECT_EQ(t.read_ok, !c.changed);
        EXPECT_EQ(t.changed, c.changed);
        EXPECT_EQ(run.counts.changed_while_read, c.changed ? 1u : 0u);
        EXPECT_EQ(t.of(DigestId::md5) == "- ERROR - FILE POSSIBLY LOCKED -", c.changed)
            << t.of(DigestId::md5);
    }
}

// Small files read ahead are hashed in groups, side by side: each gets
// the digests it has alone, whatever its length against a block's, and
// one that changes after the listing or while it is read gets the failure
// texts and is counted, while the others of its group keep theirs. Files
// the system read whole before the record asked (as the walk reads small
// files) are hashed on the record's thread, with the same results.
TEST_F(Digests, FilesReadAheadInGroupsGetTheirOwnDigestsOrFailureTexts) {
    for (const bool read_when_prepared : {false, true}) {
        SCOPED_TRACE(read_when_prepared ? "read when prepared" : "opened by the reader");
        mp.read_when_prepared = false;
        using Change = std::function<void(Content&)>;
        const struct {
            std::size_t size;
            Change change;  // after the file's read
            bool listed_short;
        } cases[] = {
            {0, nullptr, false},
            {1, nullptr, false},
            {55, nullptr, false},
            {56, nullptr, false},
            {63, nullptr, false},
            {64, nullptr, false},
            {119, nullptr, false},
            {120, nullptr, false},
            {1200, nullptr, false},
            {4096, nullptr, false},
            {8192, nullptr, false},
            {8193, nullptr, false},
            {300,
             [](Content& c) {
                 c.bytes[0] = 'w';
                 ++c.changed;
             },
             false},
            {300, [](Content& c) { c.bytes.resize(10); }, false},
            {1200, nullptr, true},
        };
        const std::size_t copies = 3;  // more files than the lanes, so lanes refill
        std::vector<std::u16string> paths;
        std::vector<AheadFile> files;
        std::vector<std::string> expected;
        std::size_t changed = 0;
        for (std::size_t copy = 0; copy < copies; ++copy)
            for (const auto& c : cases) {
                std::u16string path = u"C:\\d\\f";
                for (const char digit : std::to_string(paths.size()))
                    path.push_back(char16_t(digit));
                std::string data(c.size, '\0');
                for (std::size_t i = 0; i < data.size(); ++i)
                    data[i] = static_cast<char>((i * 7 + paths.size()) % 251);
                Node& node = mp.add_file(path, data);
                {
                    filarix::Run alone(mp);
                    DigestEngine engine;
                    const DigestTexts t = digest_file(alone, engine, path, all, false, c.size);
                    expected.push_back(t.of(DigestId::crc) + t.of(DigestId::md5) +
                                       t.of(DigestId::sha1));
                }
                if (c.change) node.content->after_read = c.change;
                const bool fails = c.change || c.listed_short;
                changed += fails;
                if (fails) expected.back() = "failed";
                paths.push_back(path);
                files.push_back({path, all.digests, c.size - (c.listed_short ? 1 : 0)});
            }
        mp.read_when_prepared = read_when_prepared;
        filarix::Run run(mp);
        DigestEngine engine;
        std::vector<std::uint64_t> listed;
        for (const AheadFile& f : files) listed.push_back(f.listed_size);
        engine.read_ahead(run, std::move(files));
        for (std::size_t i = 0; i < paths.size(); ++i) {
            SCOPED_TRACE(i);
            const DigestTexts t = digest_file(run, engine, paths[i], all, false, listed[i]);
            EXPECT_EQ(t.read_ok ? t.of(DigestId::crc) + t.of(DigestId::md5) + t.of(DigestId::sha1)
                                : std::string("failed"),
                      expected[i]);
            EXPECT_EQ(t.changed, expected[i] == "failed");
        }
        EXPECT_EQ(run.counts.changed_while_read, changed);
    }
}

TEST_F(Digests, ADirectoryHasNoContents) {
    mp.add_dir(u"C:\\d\\sub");
    filarix::Run run(mp);
    DigestEngine engine;
    const DigestTexts t = digest_file(run, engine, u"C:\\d\\sub", all, true);
    EXPECT_EQ(t.of(DigestId::crc), empty_crc);
    EXPECT_EQ(t.of(DigestId::md5), empty_md5);
    EXPECT_TRUE(mp.read_opens.empty());
}

TEST_F(Digests, NamedStreamsAreDigestedLikeFiles) {
    mp.add_file(u"C:\\d\\host.txt", "main");
    mp.add_stream(u"C:\\d\\host.txt", u"extra", "123456789");
    EXPECT_EQ(digest(u"C:\\d\\host.txt:extra").of(DigestId::crc), digits_crc);
}

TEST_F(Digests, RecordColumnsOneReadPerFile) {
    mp.add_file(u"C:\\d\\digits", "123456789");
    mp.add_file(u"C:\\d\\locked", "x", {.locked = true});
    const RunResult r = run_in_memory(mp, {u"filarix64", u"C:\\d", u"-c5s"});
    const auto lines = listing_lines(r.err);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(85, 96), std::string(" ") + "  " + digits_crc + " " + "         " +
                                           digits_md5 + " " + " " + digits_sha1 + " ");
    EXPECT_EQ(lines[1].substr(85, 96), std::string("   CRCERROR ") + "         " +
                                           "- ERROR - FILE POSSIBLY LOCKED - " +
                                           " -- ERROR - FILE POSSIBLY LOCKED BY OS -- ");
    EXPECT_EQ(lines[0].size(), lines[1].size());
    EXPECT_EQ(lines[0].size(), 107u + 12 + 42 + 42);
    // The file that could be read was opened once for all three digests.
    std::size_t opens = 0;
    for (const auto& open : mp.read_opens)
        if (open.path.find(u"digits") != std::u16string::npos) ++opens;
    EXPECT_EQ(opens, 1u);
}

}  // namespace
