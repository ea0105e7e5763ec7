// Facts about the disk being catalogued, and the record's column layout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

void set_up_volume_and_layout(Run& run, const std::u16string& first_start_path);
// The volume holding the path can carry named streams.
bool volume_has_streams(platform::System& sys, std::u16string_view path);
// Free bytes of the first start path's volume (0 for a UNC path).
std::uint64_t drive_free_space(platform::System& sys, OutStream& errors,
                               std::u16string_view first_start_path);
std::string volume_id_for(platform::System& sys, std::u16string_view start_path);
// "1A2B-3C4D", or "*UNKNOWN*" when the volume cannot be queried.
std::string volume_serial_text(platform::System& sys, std::u16string_view root);
// The root a volume query is given for a stored start path: "C:\", the
// share of a UNC path, or on POSIX the nearest existing directory.
std::u16string volume_root(platform::System& sys, std::u16string_view start_path);

}  // namespace filarix
