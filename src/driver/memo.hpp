// The memo typed at the start of a run and stored with it, and the memo
// file it goes to.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// A memo line holds at most this many bytes (a 5000-byte line buffer with
// its end mark); the rest of a longer line is cut off.
inline constexpr std::size_t memo_line_limit = 4999;
// Input ends after the line that takes the memo past this many bytes.
inline constexpr std::size_t memo_text_limit = 5000;

// Reads the memo text from standard input: up to two blank lines in a row,
// the end of input, or the line that crosses memo_text_limit.
void memo_prompt(Run& run);
// Names the memo file (a full path) and opens it for appending as the memo
// stream. An empty name asks for one with the output-file dialog; when the
// dialog is cancelled nothing changes, so the log can take the memo.
void open_memo_file(Run& run, std::u16string_view full_name);

}  // namespace filarix
