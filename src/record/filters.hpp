// The selection: the named tests an entry passes, in order, before its
// record is written.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "content/digests.hpp"
#include "core/run.hpp"

namespace filarix {

// One entry as the selection sees it; the record writer lends its state.
struct Candidate {
    const std::u16string& directory;
    const std::u16string& name;
    // The walker's search result for the entry, when it has one.
    const platform::FindData* known;
    CurrentEntry& entry;
    bool& is_directory;
    bool& is_link;
    // The entry's digests, read once and shared with its record.
    std::function<const DigestTexts&()> digests;
};

struct NamedPredicate {
    const char* name;
    bool (*keeps)(Run&, Candidate&);
};

// Judged on the path alone, before anything is deleted or read.
std::span<const NamedPredicate> path_predicates();
// Judged after NOCHILD has had its say: the owner, then the entry's own
// data, looked up by "found".
std::span<const NamedPredicate> entry_predicates();
// Whether every predicate of the list keeps the entry; stops at the first
// that does not.
bool passes(Run& run, Candidate& c, std::span<const NamedPredicate> predicates);

// NOCHILD: an entry below the start path that names a child object is
// printed, deleted under NOCHILD 1, and never listed. True when it was
// such an entry. The counting pass deletes nothing.
bool delete_child_object(Run& run, const std::u16string& complete_path);

bool attribute_filter(const RunSettings& s, std::uint32_t attributes);
// Date-age filter on the entry's times; passes everything until the age
// options are read.
bool age_filter(platform::System& sys, const RunSettings& s, const TimesRecord& times);

}  // namespace filarix
