// The listing of --DUPES: after the walk has collected the files it would
// list, the groups of equal contents (duplicate_groups) are written through
// the record, each row with its group's number. Groups come by descending
// size, those of one size by their first path; a group's names in path
// order.
#pragma once

#include <functional>

#include "core/out_stream.hpp"
#include "core/run.hpp"
#include "record/entry_tools.hpp"

namespace filarix {

// Finds the groups among the collected files and writes their rows,
// telling `progress` how far the search is as it reads.
void list_duplicates(Run& run, EntryTools& tools,
                     const std::function<void(const DupeProgress&)>& progress);

// "Duplicate groups: G, files: F, bytes that could be saved: B", as the
// other counts are written: on the console the line comes first and its
// end after.
void write_duplicate_counts(const Run& run, OutStream& out, bool console);

}  // namespace filarix
