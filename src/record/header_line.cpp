#include "record/header_line.hpp"

#include "core/columns.hpp"

namespace filarix {

int write_header_line(Run& run) {
    const RunSettings& s = run.s;
    if (s.SILENT) return 0;
    OutStream& out = run.output();
    for (const ColumnDescriptor* column : ColumnList(s)) {
        // Only the comment has a title before a path-only header ends.
        if (s.PPATHONLY && column->id != Column::comment) break;
        if (column->title && column->title(run, out, *column)) return 0;
    }
    out.put("\n");
    return 0;
}

}  // namespace filarix
