// End-to-end: a file that another program truncates or extends while the
// binary reads it for its digest. The binary is stopped while it holds the
// file open with part of it still unread, the file is changed, and the
// binary goes on.
#include <filesystem>
#include <sstream>

#include "e2e_support.hpp"

namespace {

std::string proc(pid_t pid, const std::string& rest) {
    return "/proc/" + std::to_string(pid) + "/" + rest;
}

// The process state letter (R, S, T, Z, ...); 0 once it has gone.
char process_state(pid_t pid) {
    const std::string stat = e2e::read_file(proc(pid, "stat"));
    const auto at = stat.rfind(") ");
    return at == std::string::npos || at + 2 >= stat.size() ? 0 : stat[at + 2];
}

// The descriptor under which the process holds `path` open; -1 when none.
int descriptor_of(pid_t pid, const std::string& path) {
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator(proc(pid, "fd"), ec)) {
        std::error_code link_ec;
        if (std::filesystem::read_symlink(fd.path(), link_ec) == path)
            return std::stoi(fd.path().filename().string());
    }
    return -1;
}

// How far the process has read through a descriptor; -1 when it is closed.
long long position_of(pid_t pid, int fd) {
    std::istringstream info(e2e::read_file(proc(pid, "fdinfo/" + std::to_string(fd))));
    std::string key;
    long long position = -1;
    return info >> key >> position && key == "pos:" ? position : -1;
}

TEST(ChangingFiles, AFileChangedWhileItIsReadGetsTheFailureTextsAndIsCounted) {
    constexpr long long size = 64ll << 20;
    const struct {
        const char* what;
        long long new_size;
    } cases[] = {
        {"truncated", 1000},
        {"grown", size + (8 << 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        e2e::TempTree t;
        const std::string big = t.file("big.bin", "", size);
        t.file("small.txt", "abc");
        // Stopped by a scheduler that starves this test for the whole read,
        // the binary would have finished reading: then it is run again.
        bool changed_mid_read = false;
        e2e::Result result;
        for (int attempt = 0; attempt < 3 && !changed_mid_read; ++attempt) {
            ::truncate(big.c_str(), size);
            e2e::Child child({t.root(), "-5"});
            int fd = -1;
            for (char state = 'R'; fd < 0 && state != 'Z' && state != 0;) {
                fd = descriptor_of(child.pid(), big);
                state = process_state(child.pid());
            }
            if (fd >= 0) {
                ::kill(child.pid(), SIGSTOP);
                for (char state = 'R'; state == 'R' || state == 'S' || state == 'D';)
                    state = process_state(child.pid());
                const long long read = position_of(child.pid(), fd);
                changed_mid_read = read >= 0 && read < size;
                if (changed_mid_read) {
                    ASSERT_EQ(::truncate(big.c_str(), c.new_size), 0);
                }
                ::kill(child.pid(), SIGCONT);
            }
            result = child.finish();
        }
        ASSERT_TRUE(changed_mid_read);
        EXPECT_EQ(result.status, 1) << result.err;
        // The record keeps the size it listed, and the digest of no part of the file.
        const std::string line = e2e::line_with(result.err, "/big.bin ");
        EXPECT_NE(line.find(" 67108864 "), std::string::npos) << line;
        EXPECT_NE(line.find(" - ERROR - FILE POSSIBLY LOCKED - "), std::string::npos) << line;
        EXPECT_NE(
            e2e::line_with(result.err, "/small.txt ").find("900150983CD24FB0D6963F7D28E17F72"),
            std::string::npos);
        EXPECT_NE(result.err.find("\n Changed while read: 1 files"), std::string::npos)
            << result.err;
    }
}

// Whether the process has `path` mapped into its memory.
bool maps_file(pid_t pid, const std::string& path) {
    return e2e::read_file(proc(pid, "maps")).find(" " + path + "\n") != std::string::npos;
}

TEST(ChangingFiles, AFileCutWhileItIsHashedFromMemoryEndsNothingButItsDigest) {
    constexpr long long size = 256ll << 20;
    e2e::TempTree t;
    const std::string big = t.file("big.bin", "", size);
    t.file("small.txt", "abc");
    // A scheduler that starves this test for the whole hashing would let
    // the binary finish first: then it is run again.
    bool cut_while_mapped = false;
    e2e::Result result;
    for (int attempt = 0; attempt < 3 && !cut_while_mapped; ++attempt) {
        ::truncate(big.c_str(), size);
        e2e::Child child({t.root(), "--BLAKE3"});
        for (char state = 'R'; !cut_while_mapped && state != 'Z' && state != 0;) {
            state = process_state(child.pid());
            if (!maps_file(child.pid(), big)) continue;
            ::kill(child.pid(), SIGSTOP);
            for (char s = 'R'; s == 'R' || s == 'S' || s == 'D';) s = process_state(child.pid());
            // Every page not yet hashed is gone.
            cut_while_mapped = maps_file(child.pid(), big);
            if (cut_while_mapped) {
                ASSERT_EQ(::truncate(big.c_str(), 0), 0);
            }
            ::kill(child.pid(), SIGCONT);
        }
        result = child.finish();
    }
    ASSERT_TRUE(cut_while_mapped);
    EXPECT_EQ(result.status, 1) << result.err;
    const std::string line = e2e::line_with(result.err, "/big.bin ");
    EXPECT_NE(line.find(" 268435456 "), std::string::npos) << line;
    EXPECT_NE(line.find(" -------------- ERROR - FILE POSSIBLY LOCKED BY OS -------------- "),
              std::string::npos)
        << line;
    EXPECT_NE(e2e::line_with(result.err, "/small.txt ")
                  .find("6437B3AC38465133FFB63B75273A8DB548C558465D79DB03FD359C6CD5BD9D85"),
              std::string::npos);
    EXPECT_NE(result.err.find("\n Changed while read: 1 files"), std::string::npos) << result.err;
}

}  // namespace
