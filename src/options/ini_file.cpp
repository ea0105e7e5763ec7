#include "options/ini_file.hpp"

// The INI file is looked for and applied once that source is built.
void read_ini_file(Run&) {}
