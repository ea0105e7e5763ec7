// How an entry of the tree stands against an earlier catalogue: its class
// and, for a changed one, which of its facts differ. Both sides are rows of
// the same shape, so a row of the run being listed compares with a row read
// back from any catalogue format, on the facts both of them hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/earlier_catalogue.hpp"

namespace filarix {

enum class ChangeClass : std::uint8_t { unchanged, added, removed, moved, changed };

// The class as the change field of a CSV or JSON Lines row names it.
const char* change_name(ChangeClass c);
// The one-letter change column of a text record: '.' unchanged, 'A' added,
// 'R' removed, 'M' moved, 'C' changed.
char change_letter(ChangeClass c);

// The facts of a changed entry, one bit each, in the order the
// changed_facts field lists them.
enum ChangedFact : unsigned {
    fact_content = 1,
    fact_modified = 2,
    fact_attributes = 4,
    fact_owner = 8,
    fact_streams = 16,
};
// "content,modified", the facts' names joined in their order.
std::string changed_facts_text(unsigned facts);

// The strongest digest both rows hold; none when they share no digest.
std::optional<DigestId> strongest_shared_digest(const EarlierEntry& a, const EarlierEntry& b);
// The content is the same as far as both rows can tell: equal sizes where
// both give one, and an equal strongest shared digest.
bool same_content(const EarlierEntry& a, const EarlierEntry& b);
// Two time texts ("2026-01-02T03:04:05.123456789+01:00") name the same
// instant at the precision both record; empty or unreadable texts are not
// compared (true).
bool same_time(std::string_view a, std::string_view b);

// The facts that differ between a row of the earlier catalogue and the
// row of the same path now; 0 when none does (unchanged). The write time
// is compared in nanoseconds when both rows hold them; the change time and
// the link count are not facts of their own (a rename or a new link moves
// them).
unsigned changed_facts(const EarlierEntry& before, const EarlierEntry& now);

}  // namespace filarix
