// Performs what the settings sources asked for, each action at the point
// the source asked, so that the run's effects keep the sources' order.
#pragma once

#include "core/run.hpp"
#include "options/output_names.hpp"

namespace filarix {

// Performs the actions listed and not yet done, in order.
void perform_parse_actions(Run& run);
// From now on every action a source asks for is performed at once.
void perform_parse_actions_as_asked(Run& run);
// The sources look names, variables and the computer's name up in the
// run's system.
void give_sources_lookups(Run& run);
// The run's start time (now, before it is taken) and the computer's name,
// for a dated output name.
NameStamp name_stamp(Run& run);

}  // namespace filarix
