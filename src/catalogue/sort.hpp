// Sorting the finished listing file on the -y/-Y keys: an external merge
// sort in bounded memory, whose result replaces the listing only once it is
// complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/run.hpp"

namespace filarix {

// Where a compare step finds its characters in a record.
enum class SortField : std::uint8_t {
    path,          // the path column's text
    size,          // the size digits, compared as a number
    after_size,    // `offset` characters after the size column ends
    table_text,    // `length` characters from `offset` in a CSV or JSON Lines field
    table_number,  // a CSV or JSON Lines field holding a number
};

struct SortStep {
    SortField field;
    int offset;  // after_size: from the start of the attributes column
    int length;
    int direction;                    // 1 or -1
    Field table_field = Field::path;  // table steps: the field read
};

// How the records of a listing are laid out, and the steps of its keys.
struct SortLayout {
    std::vector<SortStep> steps;
    std::size_t path_start = 0;        // before it stand the fixed-width leading columns
    std::size_t path_width = 0;        // fixed records: the path column's characters
    std::size_t size_start = 0;        // fixed records
    std::size_t attributes_start = 0;  // fixed records
    // Path and size vary in width: fields are found per line (see locate_fields).
    bool variable = false;
    char delimiter = ' ';
    // CSV or JSON Lines rows (RunSettings::table_format): a CSV row ends
    // only at a line feed outside quotes, so a name holding one stays in
    // its row; their fields are found by reading the row.
    int table = 0;
    std::vector<Field> table_fields;
};

// How much memory the sort may use; tests shrink it to force merges.
struct SortLimits {
    std::size_t run_bytes = std::size_t(96) << 20;    // records sorted in memory at once
    std::size_t merge_bytes = std::size_t(64) << 20;  // read buffers of a merge, together
    std::size_t fan_in = 64;                          // runs merged at once
    unsigned threads = 2;                             // sorting a run in halves
};

// The record layout of the run's listing and the steps of its sort keys, in
// key order; empty steps when the key list is empty.
SortLayout sort_layout(const Run& run);

// Closes the listing file and sorts it when the run asks for a sort; a
// listing that did not reach the disk whole is left as it is (false).
bool close_outputs(Run& run);
// Sorts a listing file in place: its first lines (up to the first record)
// stay first and a trailing run summary stays last.
void sort_output_file(Run& run, const std::u16string& name);
void sort_listing(Run& run, const std::u16string& name, std::uint64_t head_lines,
                  const SortLimits& limits);

// Line feeds in a file; 0 when it cannot be read.
std::uint64_t count_line_ends(Run& run, std::u16string_view name);

}  // namespace filarix
