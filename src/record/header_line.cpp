#include "record/header_line.hpp"

namespace {

constexpr const char* blanks = "                    ";  // 20

// The date and time titles of the chosen time columns, in the record's
// order, then the zone title.
void write_time_titles(Run& run, OutStream& out, char d) {
    const int t = run.s.time_type;
    const struct {
        bool shown;
        const char* date;
        const char* time;
    } columns[] = {
        {t == '3' || t == 'c' || t == 'C', "   CDATE", " CTIME"},
        {t == '3' || t == 'w' || t == 'W', "   MDATE", " MTIME"},
        {t == '3' || t == 'a' || t == 'A', "   ADATE", " ATIME"},
    };
    for (const auto& column : columns) {
        if (!column.shown) continue;
        out.printf("%-10s%c", column.date, d);
        out.printf("%5s", column.time);
        if (t == '3' || run.s.seconds) out.printf("%.7s", blanks);
        out.put(d);
    }
    out.printf(" TZ%c", d);
}

}  // namespace

int write_header_line(Run& run) {
    const RunSettings& s = run.s;
    if (s.SILENT) return 0;
    OutStream& out = *run.output;
    const char d = run.delimiter;

    if (s.COMMENT) {
        const int width = static_cast<int>(run.sys.narrow(run.comment_text).size());
        out.printf("%-*.*s%c", width, width, "  COMMENT", d);
    }
    if (!s.PPATHONLY) {
        if (s.NAMEONLY) {
            out.printf("%-*.*s%c\n", s.WIDTH, s.WIDTH, "  NAME", d);
            return 0;
        }
        out.printf("%-*.*s%c", s.WIDTH, s.WIDTH, "  PATH", d);
        out.printf(" %*.*s%c", 20, 20, "  SIZE", d);
        out.printf("%s%c", " ATTR  ", d);

        if (s.signature_check == 1 || s.signature_check == 2)
            out.printf(" %3.3s%c", "HED", d);
        else if (s.fixed)
            out.printf("    %c", d);

        // SHA has no title of its own.
        if (s.HASH)
            out.printf(" %-*.*s%c", 40, 40, "  MD5 HASH", d);
        else if (s.CRC)
            out.printf(" %-8.8s%c", "  CRC", d);
        else if (s.fixed)
            out.printf("%.*s%c", 10, blanks, d);

        if (s.time_type != '0') write_time_titles(run, out, d);
        if (s.OUTPUT) out.printf("%11.11s%c%12.12s%c", "  SERIAL #", d, " DISK LABEL ", d);

        const int lfn = static_cast<int>(run.lfn_width);
        if (s.eight_dot_three) {
            if (s.LFN)
                out.printf(" %-*.*s%c", lfn, lfn, "  NAME", d);
            else
                out.printf(" %-12s%c", "  NAME", d);
            if (s.EXT) out.printf("%8.8s%c", "   EXT", d);
        } else if (s.fixed) {
            out.printf("%.*s%c", 13, blanks, d);
        } else if (s.LFN) {
            out.printf(" %-*.*s%c%.6s%c", lfn, lfn, "  NAME", d, "   EXT", d);
        }
        if (s.owner) out.printf(" %32.32s%c", " OWNER", d);
    }
    out.put("\n");
    return 0;
}
