// The memo typed at the start of a run and stored with it.
#pragma once

#include "driver/run.hpp"

void memo_prompt(Run& run);
