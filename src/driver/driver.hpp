// The run driver: the one place that decides the order of a run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/run.hpp"

namespace filarix {

// Runs the whole program and returns the process exit status.
int run_program(platform::System& sys, std::vector<std::u16string> args);

// The start-up, the walk over every start path and the end of the run;
// returns the exit status. The adjustment, when given, runs right after the
// settings sources (tests use it to set what they want without going
// through every source).
int run_driver(Run& run, const std::function<void(Run&)>& adjust = {});

// True when the environment variable holds "ON" anywhere, ignoring case
// (on, yes on and monday all count).
bool env_is_on(platform::System& sys, std::u16string_view name);

}  // namespace filarix
