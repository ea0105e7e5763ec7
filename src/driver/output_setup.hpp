// Where the listing goes: a named file (new or appended), the standard
// output or the standard error stream, and the numbered split files.
#pragma once

#include "driver/run.hpp"

void open_output(Run& run);
// Closes the current part and opens the next numbered one.
void next_split_file(Run& run);
// Ends the run with WRITE_ERROR, naming the file, once a listing write
// has failed; the records already written stay.
void check_output_written(Run& run);
