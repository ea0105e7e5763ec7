#include "driver/termination.hpp"

#include <cstdio>

#include "catalogue/catalogue_compare.hpp"
#include "catalogue/database.hpp"
#include "catalogue/duplicates.hpp"
#include "catalogue/listing_reuse.hpp"
#include "catalogue/sort.hpp"
#include "core/numbers.hpp"
#include "core/shown_text.hpp"
#include "driver/last_access.hpp"

namespace filarix {

const char* exit_reason_text(int reason) {
    switch (reason) {
        case 0:
        case 1:
            return "NORMAL_EXIT";
        case 2:
            return "USER_ABORTED";
        case 3:
            return "INPUT_FILE";
        case 4:
            return "OUTPUT_FILE";
        case 5:
            return "PARAMATER_FILE";
        case 6:
            return "ILLEGAL or INCOMPLETE OPTION";
        case 7:
            return "MEMORY ERROR";
        case 8:
            return "OTHER_EXIT";
        case 9:
            return "WRITE_ERROR";
        case 11:
            return "READ_ERROR";
        case 13:
            return "NON_SPECIFIC ERROR";
        default:
            return "OTHER_EXIT";
    }
}

namespace {

std::string civil_text(const std::optional<platform::CivilTime>& t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!t || t->month < 1 || t->month > 12 || t->weekday < 0 || t->weekday > 6)
        return "??? ??? 00 00:00:00 0000";
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", days[t->weekday],
                  months[t->month - 1], t->day, t->hour, t->minute, t->second, t->year);
    return text;
}

}  // namespace

std::string calendar_text(platform::System& sys, std::int64_t seconds) {
    return civil_text(sys.local_calendar(seconds));
}

std::string utc_calendar_text(platform::System& sys, std::int64_t seconds) {
    const auto ticks = static_cast<platform::FileTicks>(
        (seconds + platform::epoch_difference_seconds) * platform::ticks_per_second);
    return civil_text(sys.to_utc(ticks));
}

namespace {

const char* director_ending(const Run& run) {
    return run.counts.directories_counted == 1 ? "y" : "ies";
}

double megabytes(const Run& run) {
    // The total goes through single precision first, as the figure always has.
    return static_cast<double>(static_cast<float>(run.counts.bytes_found)) / 1000000.0;
}

struct Elapsed {
    long hours, minutes, seconds;
};

Elapsed elapsed(const Run& run) {
    const long e = static_cast<long>(run.end_time - run.start_time);
    const long h = e / 3600;
    const long m = (e - 3600 * h) / 60;
    return {h, m, e - 3600 * h - 60 * m};
}

void write_totals_line(Run& run, OutStream& out) {
    out.printf("\n  %ld director%s, %ld files, %s bytes: \n", long(run.counts.directories_counted),
               director_ending(run), long(run.counts.files_found),
               format_thousands64(run.counts.bytes_found).c_str());
}

// Only a run that met such directories has the line, so other runs' totals
// stay as they were.
void write_unreadable_count(const Run& run, OutStream& out, const char* format) {
    if (run.counts.unreadable_directories != 0)
        out.printf(format, static_cast<unsigned long>(run.counts.unreadable_directories));
}

// Likewise for the directories a --PRUNE glob kept the walk out of.
void write_pruned_count(const Run& run, OutStream& out, const char* format) {
    if (run.counts.pruned_directories != 0)
        out.printf(format, static_cast<unsigned long>(run.counts.pruned_directories));
}

void write_stream_totals(Run& run, OutStream& out) {
    out.printf("  (Includes %d Alternate Data Streams ", int(run.counts.streams_found));
    if (run.counts.stream_directories != 0)
        out.printf("And %d directories holding data streams holding %d files",
                   int(run.counts.stream_directories), int(run.counts.directory_streams));
    out.put(")\n");
}

void write_reset_failures(const Run& run, OutStream& out) {
    if (run.counts.reset_failures != 0)
        out.printf("\n Access times not restored: %ld files", long(run.counts.reset_failures));
}

// Their records carry the failure texts; the count says why.
void write_changed_while_read(const Run& run, OutStream& out) {
    if (run.counts.changed_while_read != 0)
        out.printf("\n Changed while read: %ld files", long(run.counts.changed_while_read));
}

// The files found in the --HASHSET set and those not in it; on the console
// the line comes first and its end after, as the others there do.
void write_hash_set_counts(Run& run, OutStream& out, bool console = false) {
    if (!run.s.HASHSET) return;
    out.printf(console ? "\n  Hash set: %lu files known, %lu files unknown"
                       : "  Hash set: %lu files known, %lu files unknown\n",
               static_cast<unsigned long>(run.counts.known_files),
               static_cast<unsigned long>(run.counts.unknown_files));
}

// The other names of files read before, which took their digests; only a
// run that met such names has the line.
void write_hard_link_counts(const Run& run, OutStream& out, bool console) {
    const LinkedDigests& links = run.on_hand.links;
    if (links.files_unread() == 0) return;
    out.printf(console ? "\n  Hard links not read again: %llu files (%s bytes)"
                       : "  Hard links not read again: %llu files (%s bytes)\n",
               static_cast<unsigned long long>(links.files_unread()),
               format_thousands64(static_cast<std::int64_t>(links.bytes_unread())).c_str());
}

void close_out_listing(Run& run) {
    if (!close_outputs(run)) return;
    if (run.log && run.ziplog() && run.counts.zip_members_found != 0)
        run.log->printf("\n Number of files found within zip files %ld",
                        long(run.counts.zip_members_found));
    if (run.ziplog_file) {
        const bool written = run.ziplog_file->close();
        run.ziplog_file.reset();
        run.ziplog_to_listing = false;
        // Member lines lost on a full disk make the run no normal one.
        if (!written) {
            run.std_err.printf("\nError writing the ZIP listing to %s\n",
                               shown_name(run.sys, run.s.ziplog_name).c_str());
            if (run.exit_reason < 2) run.exit_reason = exit_code::write_error;
        }
    }
}

void write_listing_summary(Run& run) {
    OutStream& out = run.output();
    if (run.environment_used) out.put("\n     An environment variable found and used\n");
    write_totals_line(run, out);
    write_unreadable_count(run, out, "  directories not readable: %lu\n");
    write_pruned_count(run, out, "  directories pruned: %lu\n");
    if (run.layout.drive_free_bytes > 0)
        out.printf("  Drive Freespace %s\n",
                   format_thousands64(std::int64_t(run.layout.drive_free_bytes)).c_str());
    if (run.s.STREAM && (run.counts.streams_found != 0 || run.counts.stream_directories != 0))
        write_stream_totals(run, out);
    if (run.counts.zip_members_listed > 0)
        out.printf("  Includes %d files embedded within zipfile --ziplog\n",
                   int(run.counts.zip_members_listed));
    write_hash_set_counts(run, out);
    write_comparison_counts(run, out, false);
    write_duplicate_counts(run, out, false);
    write_reuse_counts(run, out, false);
    if (run.counts.changed_while_read != 0)
        out.printf("  Changed while read: %ld files\n", long(run.counts.changed_while_read));
    const Elapsed t = elapsed(run);
    out.put("  Elapsed: ");
    out.printf(" %ld hrs. %ld mins. %ld secs.\n\n", t.hours, t.minutes, t.seconds);
    report_last_access(run.syntax, run.last_access_value, out, run.std_out);
    out.put("\n");
}

// False when the log could not be written completely.
bool write_log_summary(Run& run, int reason) {
    OutStream& log = *run.log;
    if (reason != 0) log.printf("\n Program termination. Reason: %s", exit_reason_text(reason));
    if (run.environment_used) log.put("\n     An environment variable found and used\n");
    if (run.counts.line_length != 0)
        log.printf("\n Record length                   %4d", int(run.counts.line_length));
    log.printf("\n Number of files processed:    %6ld", long(run.counts.files_found));
    log.printf("\n Includes alternate data streams: %3d", int(run.counts.streams_found));
    write_reset_failures(run, log);
    write_changed_while_read(run, log);
    log.put("\n");
    write_totals_line(run, log);
    write_unreadable_count(run, log, "  directories not readable: %lu\n");
    write_pruned_count(run, log, "  directories pruned: %lu\n");
    if (run.layout.drive_free_bytes > 0)
        log.printf("\n  Drive freespace %s\n",
                   format_thousands64(std::int64_t(run.layout.drive_free_bytes)).c_str());
    if (run.s.STREAM && (run.counts.streams_found != 0 || run.counts.stream_directories != 0))
        write_stream_totals(run, log);
    write_hash_set_counts(run, log);
    write_comparison_counts(run, log, false);
    write_duplicate_counts(run, log, false);
    write_reuse_counts(run, log, false);
    write_hard_link_counts(run, log, false);
    if (!run.ini_echo.empty())
        log.printf("\n INI FILE CONTENTS%s\n END INI FILE\n", run.ini_echo.c_str());
    log.printf("\n\n  Finished: %.24s\n", calendar_text(run.sys, run.end_time).c_str());
    const Elapsed t = elapsed(run);
    log.put("  Elapsed: ");
    log.printf(" %ld hrs. %ld mins. %ld secs.\n", t.hours, t.minutes, t.seconds);
    report_last_access(run.syntax, run.last_access_value, log, run.std_out);
    log.put("\n");
    log.put("*****************************************************\n");
    if (run.s.MEMO && run.memo_stream() == run.log.get() && !run.memo_text.empty()) {
        log.printf("\nMEMO\n%s", run.memo_text.c_str());
        run.memo_text.clear();
    }
    return log.close();
}

void write_console_summary(Run& run) {
    OutStream& err = run.std_err;
    err.printf("\n  %ld director%s, %ld files, %s bytes, %.2f MB",
               long(run.counts.directories_counted), director_ending(run),
               long(run.counts.files_found), format_thousands64(run.counts.bytes_found).c_str(),
               megabytes(run));
    write_unreadable_count(run, err, "\n  directories not readable: %lu");
    write_pruned_count(run, err, "\n  directories pruned: %lu");
    if (run.layout.drive_free_bytes > 0)
        err.printf("\n  Drive Freespace %s",
                   format_thousands64(std::int64_t(run.layout.drive_free_bytes)).c_str());
    if (run.counts.streams_found != 0 || run.counts.stream_directories != 0) {
        err.printf("\n  (Includes %d Alternate Data Streams ", int(run.counts.streams_found));
        if (run.counts.stream_directories != 0)
            err.printf("And %d directories holding %d data stream files",
                       int(run.counts.stream_directories), int(run.counts.directory_streams));
        err.put(")\n");
    }
    write_reset_failures(run, err);
    write_changed_while_read(run, err);
    write_hash_set_counts(run, err, true);
    write_comparison_counts(run, err, true);
    write_duplicate_counts(run, err, true);
    write_reuse_counts(run, err, true);
    write_hard_link_counts(run, err, true);
    const Elapsed t = elapsed(run);
    err.put("\n  Elapsed: ");
    err.printf(" %ld hrs. %ld mins. %ld secs.\n", t.hours, t.minutes, t.seconds);
    report_last_access(run.syntax, run.last_access_value, err, run.std_out);
    err.put("\n");
}

}  // namespace

int terminate_run(Run& run, int reason) {
    // Access times that could not be put back have changed the evidence the
    // run was asked to keep: such a run does not end as a normal one.
    if (run.counts.reset_failures != 0 && reason < 2) reason = exit_code::other_exit;
    run.exit_reason = reason;
    if (!run.start_time_set) {
        run.start_time = run.sys.now_seconds();
        run.start_time_set = true;
    }
    run.end_time = run.sys.now_seconds();
    run.last_access_value = read_last_access_setting(run.sys, run.s);

    // A fatal error inside the close-out (the sort, say) goes straight on
    // to the summaries for its own reason.
    try {
        close_out_listing(run);
    } catch (const RunEnded& ended) {
        run.exit_reason = ended.reason;
    }
    reason = run.exit_reason;  // a listing that failed its last write

    if (!run.log && run.s.output_to_file() && !run.s.SILENT && !run.s.table_format && !run.s.NUL &&
        !run.sorted && run.output_file && !run.output_file->closed())
        write_listing_summary(run);

    if (run.s.output_to_file() && run.s.SILENT == 1)
        run.std_err.printf("\n  %ld director%s, %ld files, %s bytes, %.2f MB",
                           long(run.counts.directories_counted), director_ending(run),
                           long(run.counts.files_found),
                           format_thousands64(run.counts.bytes_found).c_str(), megabytes(run));

    // The last records reach the disk only now; a listing that could not be
    // written completely never ends as a normal run.
    if (run.s.output_to_file() && run.output_file && !run.output_file->closed() &&
        !run.output_file->close() && reason != exit_code::write_error) {
        run.std_err.printf("\nError writing the listing to %s\n",
                           shown_name(run.sys, run.output_part_name.empty() ? run.s.output_name
                                                                            : run.output_part_name)
                               .c_str());
        if (reason < 2) reason = exit_code::write_error;
        run.exit_reason = reason;
    }
    run.listing_target = ListingTarget::standard_error;
    // A database that failed during the run already decides the status, so
    // the log gives the reason the run ends with.
    settle_database(run);
    if (run.database_failed && reason < 2) reason = exit_code::output_file;

    // The log reaches the disk only as it is closed; a log that lost its
    // end names itself, and the run does not end as a normal one.
    if (run.log && !run.log->closed() && !write_log_summary(run, reason) &&
        run.notices.first(OnceNotice::log_write_failed)) {
        run.std_err.printf("\nError writing the accounting log %s\n",
                           shown_name(run.sys, run.log_name).c_str());
        if (reason < 2) reason = exit_code::write_error;
        run.exit_reason = reason;
    }

    if (!run.s.SILENT) write_console_summary(run);

    if (run.ini_applied) {
        run.std_err.printf("\n ----- INI FILE PROCESSED -----\n%s\n", run.ini_echo.c_str());
        run.ini_applied = 0;
    }
    if (run.environment_used) run.std_err.put("\nENVIRONMENT PROCESSED\n");

    OutStream* const memo = run.memo_stream();
    if (run.s.MEMO && memo && memo != run.log.get() && !memo->closed() && !run.memo_text.empty()) {
        memo->printf("\nMEMO\n%s", run.memo_text.c_str());
        memo->close();
    }

    // A console listing is complete only once its last bytes are out: a
    // full disk or a closed pipe behind it is a write error, not a normal end.
    const bool listing_on_out = run.s.OUTPUT == ListingOutput::standard_output;
    const bool listing_on_err = run.s.OUTPUT == ListingOutput::console;
    OutStream& out = run.rows_out ? *run.rows_out : run.std_out;
    if (!out.flush() && listing_on_out && reason < 2) reason = exit_code::write_error;
    run.std_out.flush();
    // The database records how the run ended once the listing's last
    // bytes are out: a listing that failed them makes no complete run.
    reason = close_database(run, reason);
    if (reason > 1) run.std_err.printf("\nExit Status: %s\n\n", exit_reason_text(reason));
    if (!run.std_err.flush() && listing_on_err && reason < 2) reason = exit_code::write_error;
    run.exit_reason = reason;
    return reason;
}

}  // namespace filarix
