// Stopping a console listing every screenful.
#pragma once

#include "core/run.hpp"

void listing_pause(Run& run);
