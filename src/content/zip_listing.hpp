// The members of ZIP archives, listed below the archive's record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Shapes a member's name column (the archive's path, ">>" and the member's
// name) as the record's path column is shaped: fitted to the column and
// turned into the listing's bytes. The record writer owns those rules.
using ZipNameColumn = std::function<std::string(std::u16string_view column)>;

struct ZipMember;
// A member's whole line in a CSV or JSON Lines listing, from its name as
// the archive's path, ">>" and the member's name; written byte for byte.
using ZipTableRow = std::function<std::string(std::u16string_view name, const ZipMember& member)>;
// Told of each member after its text line (the database's row of it).
using ZipMemberSeen = std::function<void(std::u16string_view name, const ZipMember& member)>;

// Lists the members of the file when it is a ZIP archive, on the ZIP log
// stream; returns the number of member lines written.
std::uint32_t list_zip_members(Run& run, std::u16string_view path, std::uint64_t size,
                               const ZipNameColumn& name_column, const ZipTableRow& table_row = {},
                               const ZipMemberSeen& member_seen = {});

}  // namespace filarix
