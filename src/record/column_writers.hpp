// How each column is produced: the second half of a column's row, beside
// its descriptor in core/columns. A column's writers fill it in the text
// record of a file or directory and in a named stream's line; a null
// writer leaves nothing there.
#pragma once

#include <cstdint>

#include "core/columns.hpp"
#include "core/out_stream.hpp"

namespace filarix {

class RecordWriter;
class StreamLine;

struct ColumnWriters {
    Column id;
    void (*record)(RecordWriter&, const ColumnSpec&);
    void (*stream)(StreamLine&, const ColumnSpec&);
};

const ColumnWriters& column_writers(Column c);

// The size column: " %20lld" and its delimiter, or under VAR ("varies")
// the bare digits; returns the characters written.
std::size_t write_size_column(OutStream& out, std::int64_t size, char delimiter, bool varies);

}  // namespace filarix
