// One selected entry in, one record (and its follow-up lines) out.
#pragma once

#include <string>

#include "core/run.hpp"
#include "record/entry_tools.hpp"

namespace filarix {

// The directory ends in a separator (or, for a directory that only holds
// streams, is the directory's own path); no name lists the directory itself.
// `known` is the entry as the walker's search already delivered it, which
// spares looking the entry up again by its path. `tree` is a directory's
// subtree totals for its row. True when the record was written.
bool process_entry(Run& run, EntryTools& tools, const std::u16string& directory,
                   const std::u16string* name, const platform::FindData* known = nullptr,
                   const TreeCount* tree = nullptr);

// The digests each listed file's record reads from the whole file, when
// the run's records read them of every regular file the walk hands over
// and nothing before that read may leave a file out (a filter, a command
// that may change the next file, an earlier listing or a window that
// spares the read): then the walk may have them read ahead. Empty
// otherwise.
DigestSet digests_read_ahead(const Run& run);

// Where the path column starts: at the drive letter of a path that has one
// among its first eight characters (so "\\?\" is not shown), else at 0.
std::size_t drive_offset(const platform::PathSyntax& syntax, std::u16string_view path);

// The six attribute letters AHRSDE, a '.' for each one missing.
std::string attribute_letters(std::uint32_t attributes);

// Every character above 127 becomes the first byte of its UTF-8 form (a
// raw byte escape its own byte), so each character stays one column wide.
void squeeze_to_bytes(const platform::PathSyntax& syntax, std::u16string& text);

}  // namespace filarix
