#include "driver/paging.hpp"

namespace filarix {

// Pauses come with the -P option; nothing can switch them on yet.
void listing_pause(Run&) {}

}  // namespace filarix
