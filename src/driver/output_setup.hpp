// Where the listing goes: a named file (new or appended), the standard
// output or the standard error stream, and the numbered split files.
#pragma once

#include <string>
#include <string_view>

#include "driver/run.hpp"

void open_output(Run& run);
// The name of split part k: D:\OUT\LIST.TXT gives D:\OUT\LIST_01.TXT.
std::u16string split_part_name(const platform::PathSyntax& syntax, std::u16string_view name,
                               int number);
// Closes the current part and opens the next numbered one.
void next_split_file(Run& run);
// Ends the run with WRITE_ERROR, naming the file, once a write to the
// listing or the log has failed; the records already written stay.
void check_output_written(Run& run);
