// The run's streams, each with one owner: the console streams, the listing
// and its target, the logs and the memo, the names of the files behind them
// for the messages when a write fails, and the notices told once per run.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/out_stream.hpp"
#include "platform/platform.hpp"

namespace filarix {

// A notice or a step that happens once per run, however often its cause
// occurs.
enum class OnceNotice : std::uint8_t {
    log_write_failed,         // the log's write failure has been named
    stream_read_failed,       // a named stream listing could not be read
    privileges_failed,        // the backup privileges were refused
    backup_privileges_asked,  // they stay asked for the rest of the process
    entry_reset_failed,       // an entry's attributes or times stayed changed
    command_start_failed,     // a per-file command program could not start
};

class OnceNotices {
public:
    // True the first time only: the caller tells it then.
    bool first(OnceNotice notice) {
        if (given(notice)) return false;
        bits_.set(index(notice));
        return true;
    }
    bool given(OnceNotice notice) const { return bits_.test(index(notice)); }
    // A new file behind the notice may fail again and be named again.
    void forget(OnceNotice notice) { bits_.reset(index(notice)); }

private:
    static std::size_t index(OnceNotice notice) { return static_cast<std::size_t>(notice); }
    std::bitset<8> bits_;
};

// Where the records go.
enum class ListingTarget { standard_output, standard_error, file };

struct RunStreams {
    explicit RunStreams(platform::System& system);
    RunStreams(const RunStreams&) = delete;
    RunStreams& operator=(const RunStreams&) = delete;
    // Whatever ended the run, nothing already formatted is lost.
    ~RunStreams();

    OutStream std_out;
    OutStream std_err;
    // The standard output of a CSV or JSON Lines run, which carries rows
    // alone: std_out's notices go to the error stream then.
    std::unique_ptr<OutStream> rows_out;
    std::unique_ptr<OutStream> output_file;  // the listing file, when one is open
    ListingTarget listing_target = ListingTarget::standard_output;
    std::unique_ptr<OutStream> log;  // the accounting log
    // The ZIP log's own file; without one, member lines follow the listing.
    std::unique_ptr<OutStream> ziplog_file;
    bool ziplog_to_listing = false;
    std::unique_ptr<OutStream> memo_file;
    std::string memo_text;
    // The files behind the streams, for the messages when a write fails:
    // the listing file or split part being written, and the open log.
    std::u16string output_part_name;
    std::u16string log_name;
    OnceNotices notices;
    // Lines of the listing file before its first record (an appended-to
    // file's earlier lines, the start banner, the column titles); nothing
    // until the records begin. The sort leaves these lines first.
    std::optional<std::uint64_t> listing_head_lines;
    std::uint64_t listing_prior_lines = 0;  // the lines an appended-to file held

    // Where records go now.
    OutStream& output();
    // Where ZIP member lines go; null when they are not listed.
    OutStream* ziplog();

private:
    friend void keep_standard_output_for_rows(RunStreams& streams);
    platform::Sink& standard_output_sink_;
};

// Ends the process at once, without a summary.
[[noreturn]] void end_process(RunStreams& streams, int code);

// Keeps the standard output for the rows of a CSV or JSON Lines listing:
// every notice written to std_out from now on, and what it still holds,
// goes to the error stream.
void keep_standard_output_for_rows(RunStreams& streams);

}  // namespace filarix
