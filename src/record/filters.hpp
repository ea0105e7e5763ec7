// The per-entry selection filters that run before a record is written.
#pragma once

#include <cstdint>

#include "core/run.hpp"

namespace filarix {

bool attribute_filter(const Run& run, std::uint32_t attributes);
// Date-age filter on the entry's times; passes everything until the age
// options are read.
bool age_filter(Run& run, const TimesRecord& times);

}  // namespace filarix
