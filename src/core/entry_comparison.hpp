// What the record asks of an earlier catalogue (--DIFF): how the entry it
// is writing stands against it. The catalogue layer holds the earlier rows
// and answers; the record only hands over the facts its row holds.
#pragma once

#include <string>

#include "core/earlier_entry.hpp"

namespace filarix {

struct ChangeVerdict {
    char letter = '.';       // the text record's change column
    const char* name = "";   // the row's change field
    std::string facts;       // the changed_facts field, for a changed entry
    std::string moved_from;  // the earlier path of a moved entry
    bool unchanged = false;  // --CHANGED leaves the entry out
};

class EntryComparison {
public:
    virtual ~EntryComparison() = default;
    // `now` is the entry as its row would be written, its path the exact
    // bytes of the name.
    virtual ChangeVerdict classify(const EarlierEntry& now) = 0;
};

}  // namespace filarix
