// Everything one run holds: the settings record, the globals the settings
// sources fill, the counters, the shared texts and the open streams. The
// driver creates one Run and passes it by reference; tests make a fresh one
// per case.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/out_stream.hpp"
#include "core/run_end.hpp"
#include "core/run_settings.hpp"
#include "platform/platform.hpp"

// The lists hold 79 entries in 80 slots.
inline constexpr std::size_t list_capacity = 79;
inline constexpr std::size_t exclude_capacity = 80;

struct DateValue {
    int month = 0;
    int day = 0;
    int year = 0;
};

// One time of an entry in calendar form.
struct CalendarFields {
    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The three times of an entry, converted, with the raw values kept for the
// access-time restore.
struct TimesRecord {
    CalendarFields write;
    CalendarFields access;
    CalendarFields creation;
    platform::FileTicks raw_creation = 0;
    platform::FileTicks raw_access = 0;
    platform::FileTicks raw_write = 0;
};

struct Run {
    explicit Run(platform::System& system);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run();

    platform::System& sys;
    const platform::PathSyntax& syntax;

    // ----- the settings record and the globals the sources fill -----
    RunSettings s;
    std::vector<std::u16string> root_list;
    std::vector<std::u16string> filetype_list;
    std::vector<std::u16string> exclude_list;  // upper-cased masks
    std::u16string output_name;
    int output_drive = 0;
    std::u16string acct_name;
    std::u16string comment_text;
    std::string label_text;
    std::string owner_name;
    char delimiter = ' ';
    std::int64_t DISPLACE = 0;
    std::int64_t displace_end = 0;
    std::int64_t size_greater = 0;
    std::int64_t size_less = 0;
    std::int64_t lfn_width = 33;
    std::array<int, 10> sort_keys{};
    std::array<int, 10> sort_dirs{};
    // Keys given so far by -y/-Y and the INI key SORT; the starting key 'n'
    // does not count, so the first key given replaces it.
    std::size_t sort_keys_given = 0;
    std::u16string header_file;
    int older_days = 0;
    int newer_days = 8000;
    DateValue older_date;
    DateValue newer_date;
    char older_kind = '0';
    std::array<char, 4> date_kinds{'0', '0', '0', '0'};
    std::u16string command_text;
    std::size_t command_program_length = 0;
    int split_lines = 0;
    std::u16string memo_name;
    std::unique_ptr<OutStream> memo_file;
    OutStream* memo_stream = nullptr;  // the memo file, or the log
    std::string memo_text;
    std::u16string ziplog_name;
    int showlong_min = 260;
    int nameafter_width = -1;
    int sequence_start = 0;
    char16_t drive_letter = 0;
    std::string ini_echo;
    int ini_applied = 0;
    int environment_used = 0;

    // ----- set up by the driver -----
    std::vector<std::u16string> args;  // argument 0 is the program's full path
    std::u16string program_name;       // file name of the program, no extension
    std::int64_t start_time = 0;
    bool start_time_set = false;
    std::int64_t end_time = 0;
    std::string zone_name;  // three-letter zone abbreviation
    int page_lines = 0;
    int progress_width = 60;
    bool sizing_pass = true;

    // ----- volume facts and layout -----
    int fs_type = 0;
    // The first start path's volume can carry named streams (NTFS on
    // Windows, user extended attributes on Linux).
    bool streams_volume = false;
    std::uint64_t drive_free_bytes = 0;
    std::string volume_id_text;
    std::u16string volume_label;
    int digest_width = 10;
    int record_width = 0;
    int size_column = 0;
    int digest_column = 0;
    int month_column = 0;
    int day_column = 0;
    int year_column = 0;
    int hour_column = 0;
    int minute_column = 0;

    // ----- counters over the whole run -----
    std::uint32_t files_found = 0;
    std::uint32_t directories_counted = 0;
    std::int64_t bytes_found = 0;
    std::uint32_t streams_found = 0;
    std::uint32_t stream_directories = 0;
    std::uint32_t directory_streams = 0;
    std::uint32_t zip_members_listed = 0;
    std::uint32_t zip_members_found = 0;
    std::uint32_t entries_seen = 0;
    std::uint32_t records_written = 0;
    std::size_t longest_path = 0;
    std::uint32_t longest_path_entry = 0;
    std::int64_t line_length = 0;
    std::uint32_t max_line_length = 0;
    std::uint32_t sequence_counter = 1;
    int split_number = 1;
    std::uint32_t console_lines = 0;
    int page_length = 24;
    int walk_depth = 0;

    // ----- the current entry -----
    std::u16string display_path;
    std::u16string pg_complete_path;
    platform::FindData entry;
    TimesRecord entry_times;
    std::string attr_letters;
    std::string digest_text;
    std::unique_ptr<unsigned char[]> read_buffer;  // the digests' read buffer
    std::string category_text;

    // ----- streams -----
    OutStream std_out;
    OutStream std_err;
    std::unique_ptr<OutStream> output_file;  // the listing file, when one is open
    OutStream* output = nullptr;             // where records go
    std::unique_ptr<OutStream> log;          // the accounting log
    std::unique_ptr<OutStream> ziplog_file;
    OutStream* ziplog = nullptr;
    // The files behind the streams, for the messages when a write fails:
    // the listing file or split part being written, and the open log.
    std::u16string output_part_name;
    std::u16string log_name;
    bool log_error_reported = false;

    // The console pause between screenfuls, which the driver supplies.
    std::function<void(Run&)> listing_pause;
    void pause_listing() {
        if (listing_pause) listing_pause(*this);
    }

    // ----- the end of the run -----
    bool sorted = false;
    int exit_reason = 0;
    std::uint32_t last_access_value = platform::last_access_not_found;
};

// Ends the process at once, without a summary.
[[noreturn]] void end_process(Run& run, int code);
