// Output-name masks and the automatic log name.
#pragma once

#include <string>

#include "driver/run.hpp"

// The output file's name with its extension replaced by ".log".
std::u16string automatic_log_name(Run& run);
