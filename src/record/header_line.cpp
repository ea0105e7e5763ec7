#include "record/header_line.hpp"

#include "core/columns.hpp"

namespace filarix {

namespace {

constexpr const char* blanks = "                    ";  // 20

// The date and time titles of one time column.
void write_time_title(Run& run, OutStream& out, char d, const char* date, const char* time) {
    out.printf("%-10s%c", date, d);
    out.printf("%5s", time);
    if (run.s.time_type == '3' || run.s.seconds) out.printf("%.7s", blanks);
    out.put(d);
}

// The 8.3 name, long name and extension titles, which stand as one group.
void write_name_titles(Run& run, OutStream& out, char d) {
    const RunSettings& s = run.s;
    const int lfn = static_cast<int>(s.lfn_width);
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
}

}  // namespace

int write_header_line(Run& run) {
    const RunSettings& s = run.s;
    if (s.SILENT) return 0;
    OutStream& out = run.output();
    const char d = s.delimiter;

    for (const Column column : ColumnList(s)) {
        // Only the comment has a title before a path-only header ends.
        if (s.PPATHONLY && column != Column::comment) break;
        switch (column) {
            case Column::sequence:
            case Column::label:
            case Column::name_after:
            case Column::path_length:
                break;
            case Column::comment: {
                const int width = static_cast<int>(run.sys.narrow(s.comment_text).size());
                out.printf("%-*.*s%c", width, width, "  COMMENT", d);
                break;
            }
            case Column::path:
                if (s.NAMEONLY) {
                    out.printf("%-*.*s%c\n", s.WIDTH, s.WIDTH, "  NAME", d);
                    return 0;
                }
                out.printf("%-*.*s%c", s.WIDTH, s.WIDTH, "  PATH", d);
                break;
            case Column::size:
                out.printf(" %*.*s%c", 20, 20, "  SIZE", d);
                break;
            case Column::attributes:
                out.printf("%s%c", " ATTR  ", d);
                break;
            case Column::category:
                if (s.signature_check == 1 || s.signature_check == 2)
                    out.printf(" %3.3s%c", "HED", d);
                else
                    out.printf("    %c", d);
                break;
            case Column::digest_blank:
                out.printf("%.*s%c", 10, blanks, d);
                break;
            case Column::creation_time:
                write_time_title(run, out, d, "   CDATE", " CTIME");
                break;
            case Column::write_time:
                write_time_title(run, out, d, "   MDATE", " MTIME");
                break;
            case Column::access_time:
                write_time_title(run, out, d, "   ADATE", " ATIME");
                break;
            case Column::zone:
                out.printf(" TZ%c", d);
                break;
            case Column::volume_serial:
                out.printf("%11.11s%c", "  SERIAL #", d);
                break;
            case Column::volume_label:
                out.printf("%12.12s%c", " DISK LABEL ", d);
                break;
            case Column::names:
                write_name_titles(run, out, d);
                break;
            case Column::owner:
                out.printf(" %32.32s%c", " OWNER", d);
                break;
            default:
                if (const auto id = column_digest(column)) {
                    const DigestRow& row = digest_row(*id);
                    // With MD5 too, the MD5 title stands alone.
                    if (*id == DigestId::crc && s.digests.has(DigestId::md5)) break;
                    if (row.title[0] != '\0')
                        out.printf(" %-*.*s%c", row.title_width, row.title_width, row.title, d);
                }
                break;
        }
    }
    out.put("\n");
    return 0;
}

}  // namespace filarix
