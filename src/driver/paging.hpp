// Stopping a console listing every screenful.
#pragma once

#include "core/run.hpp"
#include "record/entry_tools.hpp"

namespace filarix {

// Waits for a key under a centred prompt, then erases the prompt; Esc, X
// or Ctrl+C end the run.
class ConsolePager final : public ListingPager {
public:
    void pause_listing(Run& run) override;
};

}  // namespace filarix
