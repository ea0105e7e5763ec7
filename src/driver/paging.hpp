// Stopping a console listing every screenful.
#pragma once

#include "driver/run.hpp"

void listing_pause(Run& run);
