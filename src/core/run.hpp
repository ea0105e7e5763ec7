// Everything one run holds, in parts by responsibility: the settings
// record, what the settings sources report, the streams, the walk's state,
// the sets entries are checked against, the totals and the layout. The
// driver creates one Run and passes it by reference; tests make a fresh one
// per case.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/catalogue_sink.hpp"
#include "core/columns.hpp"
#include "core/digest_reuse.hpp"
#include "core/dupe_candidates.hpp"
#include "core/entry_comparison.hpp"
#include "core/known_digests.hpp"
#include "core/out_stream.hpp"
#include "core/parse_actions.hpp"
#include "core/run_end.hpp"
#include "core/run_settings.hpp"
#include "core/run_streams.hpp"
#include "core/signature_entries.hpp"
#include "core/tree_totals.hpp"
#include "platform/platform.hpp"

namespace filarix {

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

// The entry being recorded: the record writer's own state, lent to the
// routines that fill its fields.
struct CurrentEntry {
    std::u16string display_path;      // as the path column shows it
    std::u16string pg_complete_path;  // the whole path, never shortened
    platform::FindData data;
    TimesRecord times;
    std::string attr_letters;
    std::string category_text;
};

// Volume facts and the record's layout, computed once from the settings and
// the first start path's volume before the walk.
struct Layout {
    // The first start path's volume can carry named streams (NTFS on
    // Windows, user extended attributes on Linux).
    bool streams_volume = false;
    std::uint64_t drive_free_bytes = 0;
    std::string volume_id_text;
    std::u16string volume_label;
    // Where each column of a record stands; the sort finds its keys here.
    std::vector<ColumnPlace> columns;
    // The record's columns in order, settled once for the walk.
    std::optional<ColumnList> record_columns;
    // The fields of a CSV or JSON Lines row, settled with them.
    std::vector<Field> table_fields;
    // The columns of a database row (--DB): a JSON Lines row's.
    std::optional<ColumnList> database_columns;
    // An estimate of a record's length, which sets the console page length.
    int record_width = 0;
    int page_length = 24;
    int progress_width = 60;
};

// What the walk has found and written so far.
struct Counters {
    std::uint32_t files_found = 0;
    std::uint32_t directories_counted = 0;
    std::int64_t bytes_found = 0;
    std::uint32_t streams_found = 0;
    std::uint32_t stream_directories = 0;
    std::uint32_t directory_streams = 0;
    std::uint32_t zip_members_listed = 0;
    std::uint32_t zip_members_found = 0;
    // Files whose digest is in the --HASHSET set, and files whose is not.
    std::uint32_t known_files = 0;
    std::uint32_t unknown_files = 0;
    std::int64_t line_length = 0;  // of the last record
    std::uint64_t sequence_counter = 1;
    int split_number = 1;
    std::uint32_t console_lines = 0;
    int walk_depth = 0;
    // Files whose attributes or times could not be put back after reading.
    std::uint32_t reset_failures = 0;
    // Files and streams that changed while their digests were read.
    std::uint32_t changed_while_read = 0;
    // Directories that are there and could not be read, each named as met.
    std::uint32_t unreadable_directories = 0;
    // Directories a --PRUNE glob kept the walk out of.
    std::uint32_t pruned_directories = 0;
};

// The overall progress line of --PROGRESS: the counting pass's totals and
// when the line was last drawn.
struct OverallProgress {
    bool active = false;
    std::uint32_t files_total = 0;
    std::int64_t bytes_total = 0;
    std::int64_t started_ms = 0;
    std::int64_t drawn_ms = 0;
    std::size_t drawn_width = 0;
    // What a --DUPES walk has passed over: it lists nothing itself.
    std::uint32_t files_passed = 0;
    std::int64_t bytes_passed = 0;
};

// What the settings sources report besides the settings themselves: the
// INI lines applied and the environment variables used, the start paths
// that are not there, and the actions asked for, in order.
struct ParseResults {
    std::string ini_echo;
    bool ini_paused = false;  // a warning of the INI file has paused once
    int ini_applied = 0;
    int environment_used = 0;
    ParseActions parse_actions;
    // Start paths named on the command line that do not exist.
    std::size_t missing_start_paths = 0;
};

// The command and the clock, set up by the driver.
struct RunInvocation {
    std::vector<std::u16string> args;  // argument 0 is the program's full path
    std::u16string program_name;       // file name of the program, no extension
    std::int64_t start_time = 0;
    bool start_time_set = false;
    std::int64_t end_time = 0;
    std::string zone_name;  // three-letter zone abbreviation
};

// The walk's own state, kept from entry to entry.
struct WalkState {
    // The counting pass of --PROGRESS, which lists nothing.
    bool sizing_pass = true;
    // Length of the start path being walked, its separator included: what
    // lies beyond it is the part of a path below the start path.
    std::size_t start_path_length = 0;
    // The named streams of the path enumerated last; it grows to hold every
    // stream with its whole name.
    std::vector<platform::NamedStream> stream_table;
    // The start of the file being checked against the header file's
    // signatures, kept from file to file.
    std::unique_ptr<unsigned char[]> signature_window;
    // The files listed so far and their bytes (--TREESIZE).
    TreeTotals tree_totals;
    // --DUPES: the files the walk would list, kept for the search after it,
    // the row being written then, and what the search found.
    DupeCandidates dupe_candidates;
    DupeRow dupe_row;
    DupeTotals dupe_totals;
    // The file system of the start path being walked (--ONEFS); nothing
    // when the system cannot tell, and then every directory is entered.
    std::optional<std::uint64_t> start_file_system;
};

// What entries are checked against, loaded before the walk: the known
// digests of --HASHSET and the header file's signatures (-h, -H, +h, +H).
struct ReferenceSets {
    KnownDigests known_digests;
    SignatureTable signature_table;
    // The earlier catalogue of --DIFF, read before the walk.
    std::unique_ptr<EntryComparison> comparison;
    // Digests taken instead of read: those of the earlier listing of
    // --REUSE and those of a file's other names read before.
    DigestsOnHand on_hand;
};

// What the walk has found and written, and the progress line's totals.
struct RunTotals {
    Counters counts;
    OverallProgress progress;
};

// The database the rows also go to (--DB); null without one, and once
// writing it has failed.
struct RunDatabase {
    std::unique_ptr<CatalogueSink> database;
    std::string database_name;  // as messages name it
    bool database_failed = false;
};

// What the end of the run reports.
struct RunEnding {
    bool sorted = false;
    int exit_reason = 0;
    std::uint32_t last_access_value = platform::last_access_not_found;
};

// The run's parts by responsibility; a routine that needs one part only
// takes that part.
struct Run : RunStreams,
             ParseResults,
             RunInvocation,
             WalkState,
             ReferenceSets,
             RunTotals,
             RunDatabase,
             RunEnding {
    explicit Run(platform::System& system);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    platform::System& sys;
    const platform::PathSyntax& syntax;

    // Filled by the sources in order (environment, INI file, command line),
    // then settled by the consistency rules; from the walk on nothing
    // changes it, and the record code sees it const.
    RunSettings s;

    Layout layout;

    // Where the memo goes: its own file, else the log when a memo was asked
    // for; null when neither.
    OutStream* memo_stream() const;
};

}  // namespace filarix
