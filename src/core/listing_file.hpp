// The listing file while records are written: its numbered split parts and
// its write errors.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

struct NameParts {
    std::u16string drive;
    std::u16string directory;  // with its final separator
    std::u16string name;
    std::u16string extension;  // with its dot
};

// Drive, directory, file name and extension of an output name, by the
// platform's own path rules ("C:" and "\\" on Windows, "/" on POSIX).
NameParts split_output_name(const platform::PathSyntax& syntax, std::u16string_view path);

// The name of split part k: D:\OUT\LIST.TXT gives D:\OUT\LIST_01.TXT.
std::u16string split_part_name(const platform::PathSyntax& syntax, std::u16string_view name,
                               int number);
// Closes the current part and opens the next numbered one.
void next_split_file(Run& run);
// Ends the run with WRITE_ERROR, naming the file, once a write to the
// listing or the log has failed; the records already written stay.
void check_output_written(Run& run);

}  // namespace filarix
