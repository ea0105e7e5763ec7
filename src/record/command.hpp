// The command run for every listed file (-e, -E).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/run.hpp"

namespace filarix {

// A template taken apart around the file argument: the program, the text
// between the program and the first "%", and the text after it.
struct BuiltCommand {
    std::u16string program;  // B
    std::u16string before;   // up to the first "%"
    std::u16string after;    // after it
};

// Replaces the first "-PATH" of the template by the directory and a blank;
// returns where the directory stands, or npos when there is no "-PATH".
std::size_t substitute_path(std::u16string& template_text, std::u16string_view directory);

// Splits the template (program part `program_length` characters long).
BuiltCommand build_command(const platform::PathSyntax& syntax, std::u16string template_text,
                           std::size_t program_length);

void run_file_command(platform::System& sys, const RunSettings& s, RunStreams& streams,
                      const std::u16string& complete_path, const std::u16string& directory,
                      const std::u16string& name);

}  // namespace filarix
