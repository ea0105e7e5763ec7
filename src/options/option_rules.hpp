// The rules every settings source shares, so that the command line, long
// options, the INI file and the environment judge a value alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/out_stream.hpp"
#include "core/run_settings.hpp"

namespace filarix {

// A character as the delimiter byte: its low byte, as a narrow listing
// writes it.
char delimiter_byte(char16_t c);
// A delimiter value of an option: one character as it is, longer text as its
// leading number.
char delimiter_from_text(std::u16string_view value);
// A NUL delimiter would put zero bytes into the listing.
bool delimiter_allowed(char delimiter);

// A column can never be wider than the longest path the program handles.
inline constexpr std::int32_t column_limit = 32768;
// A column width: the leading number held to [0, column_limit].
std::int32_t column_width(std::u16string_view text);
std::int32_t column_width(std::string_view text);

// The exclude list holds exclude_capacity masks; one more is refused, with
// the same message from every source.
bool exclude_list_full(std::size_t masks);
void report_exclude_list_full(OutStream& out);

// What a --DB value names: a PostgreSQL server when it is a URL
// (postgresql://, postgres://) or a libpq connection string ("host=...
// dbname=..."), otherwise a database file.
DatabaseKind database_kind_of(std::u16string_view value);

// A comment's width after "COMPUTERNAME:" or ":", held to [0, 1000000].
std::size_t comment_width(std::u16string_view text);

}  // namespace filarix
