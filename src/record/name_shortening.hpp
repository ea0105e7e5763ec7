// Fitting a long path into the path column, and splitting a path into its
// drive, directory, base name and extension.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/path_syntax.hpp"

namespace filarix {

// Keeps the drive and the tail: "C:\...\cccc\file.txt".
std::u16string name_shorten(const platform::PathSyntax& syntax, std::u16string_view path,
                            std::int32_t width);
// Keeps the head and the last component: "C:\...\file.txt".
std::u16string name_elide(const platform::PathSyntax& syntax, std::u16string_view path,
                          std::uint64_t width);

struct PathParts {
    std::u16string drive;
    std::u16string directory;
    std::u16string base;
    std::u16string extension;  // with its leading dot
};

// The splitter for paths longer than the runtime's (255 characters).
PathParts split_long_path(const platform::PathSyntax& syntax, std::u16string_view path);
// The runtime's splitter for short paths, split_long_path for long ones.
PathParts split_display_path(const platform::PathSyntax& syntax, std::u16string_view path);

}  // namespace filarix
