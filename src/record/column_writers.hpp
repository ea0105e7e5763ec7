// How each column is produced: the second half of a column's row, beside
// its descriptor in core/columns. A column's writers fill it in the text
// record of a file or directory, in a named stream's line, and in the CSV
// or JSON row of an entry, a stream and a ZIP member; a null writer leaves
// the column empty there.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "content/zip_walk.hpp"
#include "core/columns.hpp"
#include "core/out_stream.hpp"
#include "record/table_row.hpp"

namespace filarix {

class RecordWriter;
class StreamLine;

// A ZIP member's row: its name as the archive's path, ">>" and its own.
struct MemberLine {
    Run& run_;
    std::u16string_view name;
    const ZipMember& member;
};

// Plain function pointers: the record calls one per column for every entry.
struct ColumnWriters {
    Column id;
    void (*record)(RecordWriter&, const ColumnDescriptor&);  // a file's or directory's record
    void (*stream)(StreamLine&, const ColumnDescriptor&);    // a named stream's line
    void (*entry_row)(RecordWriter&, TableRow&, const ColumnDescriptor&);
    void (*stream_row)(StreamLine&, TableRow&, const ColumnDescriptor&);
    void (*member_row)(const MemberLine&, TableRow&, const ColumnDescriptor&);
};

// Indexed by the column, so that finding a column's writers costs the
// record no more than a switch over the columns would.
extern const std::array<ColumnWriters, column_count> column_writer_table;
inline const ColumnWriters& column_writers(Column c) {
    return column_writer_table[column_index(c)];
}

// The size column: " %20lld" and its delimiter, or under VAR ("varies")
// the bare digits; returns the characters written.
std::size_t write_size_column(OutStream& out, std::int64_t size, char delimiter, bool varies);

}  // namespace filarix
