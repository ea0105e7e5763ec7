// The run's streams: where records go for each listing target, the ZIP
// member lines, rows kept apart from notices, and notices told once.
#include "core/run_streams.hpp"

#include <gtest/gtest.h>

#include "core/run.hpp"
#include "core/run_end.hpp"
#include "memory_platform.hpp"

using namespace filarix;

namespace {

TEST(OnceNotices, EachIsToldOnceUntilForgotten) {
    OnceNotices notices;
    EXPECT_FALSE(notices.given(OnceNotice::entry_reset_failed));
    EXPECT_TRUE(notices.first(OnceNotice::entry_reset_failed));
    EXPECT_FALSE(notices.first(OnceNotice::entry_reset_failed));
    EXPECT_TRUE(notices.given(OnceNotice::entry_reset_failed));
    // The others are not touched by it.
    EXPECT_TRUE(notices.first(OnceNotice::command_start_failed));
    EXPECT_TRUE(notices.first(OnceNotice::log_write_failed));
    notices.forget(OnceNotice::log_write_failed);
    EXPECT_TRUE(notices.first(OnceNotice::log_write_failed));
    EXPECT_FALSE(notices.first(OnceNotice::command_start_failed));
}

TEST(RunStreams, RecordsGoWhereTheTargetSaysAndZipLinesFollowThem) {
    testing_support::MemoryPlatform mp;
    filarix::Run run(mp);
    EXPECT_EQ(&run.output(), &run.std_out);
    run.listing_target = ListingTarget::standard_error;
    EXPECT_EQ(&run.output(), &run.std_err);
    // A file target without an open file falls back on the error stream.
    run.listing_target = ListingTarget::file;
    EXPECT_EQ(&run.output(), &run.std_err);
    EXPECT_EQ(run.ziplog(), nullptr);
    run.ziplog_to_listing = true;
    EXPECT_EQ(run.ziplog(), &run.output());
}

TEST(RunStreams, RowsKeepTheStandardOutputAndNoticesMoveToTheErrorStream) {
    testing_support::MemoryPlatform mp;
    {
        filarix::Run run(mp);
        run.std_out.put("notice before\n");
        keep_standard_output_for_rows(run);
        run.std_out.put("notice after\n");
        run.output().put("row\n");
        EXPECT_THROW(end_process(run, exit_code::normal_listed), ProcessExit);
    }
    EXPECT_EQ(mp.out_text, "row\n");
    EXPECT_EQ(mp.err_text, "notice before\nnotice after\n");
}

}  // namespace
