// What an entry's lines need from whoever runs the walk, beyond the run
// state: kept for the whole walk by its owner and handed to each entry.
#pragma once

#include "content/digests.hpp"
#include "core/run.hpp"

namespace filarix {

// The stop between console screenfuls; the driver's asks for a key.
class ListingPager {
public:
    virtual void pause_listing(Run& run) = 0;

protected:
    ~ListingPager() = default;
};

struct EntryTools {
    ListingPager& pager;
    DigestEngine& digests;
};

}  // namespace filarix
