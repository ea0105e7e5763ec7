// End-to-end: an interrupt ends the walk early with the partial totals.
#include <regex>

#include "e2e_support.hpp"

namespace {

TEST(Abort, InterruptEndsTheRunWithPartialTotals) {
    constexpr int kDirectories = 5, kPerDirectory = 1000;
    e2e::TempTree t;
    // Hard links to one file: far quicker to make than thousands of files.
    const std::string source = t.file("source", "x");
    for (int d = 0; d < kDirectories; ++d) {
        t.dir("d" + std::to_string(d));
        for (int f = 0; f < kPerDirectory; ++f) {
            char name[32];
            std::snprintf(name, sizeof name, "d%d/f%04d", d, f);
            ASSERT_EQ(::link(source.c_str(), t.path(name).c_str()), 0) << name;
        }
    }
    e2e::Child child({t.root()});
    // The listing is far larger than the pipe, so the binary blocks once it
    // is full: the interrupt surely arrives before the walk ends.
    const auto first_record = [](const std::string& err) {
        return err.size() > 1 && err.find('\n', 1) != std::string::npos;
    };
    ASSERT_TRUE(child.pump(first_record)) << child.err();
    ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
    const auto result = child.finish();
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(e2e::is_start_banner(result.out)) << result.out;
    EXPECT_TRUE(result.err.ends_with("\nExit Status: USER_ABORTED\n\n")) << result.err;
    const auto lines = e2e::records(result.err);
    EXPECT_GE(lines.size(), 1u);
    EXPECT_LT(lines.size(), std::size_t(kDirectories * kPerDirectory));  // and the source
    std::smatch totals;
    const std::regex pattern(R"(\n\n  (\d+) director(y|ies), (\d+) files, ([\d,]+) bytes, )");
    ASSERT_TRUE(std::regex_search(result.err, totals, pattern)) << result.err;
    EXPECT_EQ(std::stoul(totals[3].str()), lines.size());
}

}  // namespace
