// Stopping a console listing every screenful.
#pragma once

#include "core/run.hpp"

namespace filarix {

void listing_pause(Run& run);

}  // namespace filarix
