#include "driver/paging.hpp"

// Pauses come with the -P option; nothing can switch them on yet.
void listing_pause(Run&) {}
