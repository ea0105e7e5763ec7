#include "options/environment.hpp"

// ACCT, DELIMETER, RESET, RECURSE, WIDTH and TIME are read here once the
// environment source is built; for now only the start-up tests of RESET
// and SILENT look at the environment.
void read_environment(Run&) {}
