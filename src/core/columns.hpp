// The columns of a record, in the record's order, one descriptor each: its
// title, its width in a fixed record and its CSV and JSON fields. The header
// line, the layout, the rows and the sort read these descriptors; how a
// column is produced for an entry, a stream or a ZIP member is its row of
// record/column_writers. A new column is a row in each of the two tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/digest_registry.hpp"
#include "core/run_settings.hpp"

namespace filarix {

struct Run;
class OutStream;

enum class Column : std::uint8_t {
    change,      // how the entry stands against an earlier catalogue (--DIFF)
    dupe_group,  // the duplicate group a file belongs to (--DUPES)
    sequence,
    label,
    comment,
    path,
    size,
    attributes,
    category,  // the signature category, or its blank place in a fixed record
    digest,    // the first digest's; one each, in the registry's order
    digest_blank = digest + digest_count,  // the digests' place in a fixed record without any
    creation_time,
    write_time,
    access_time,
    zone,
    precise_times,  // rows only: the write and change times in nanoseconds
    identity,       // rows only: device, inode and link count
    volume_serial,
    volume_label,
    names,  // the 8.3 name, the long name and the extension group
    owner,
    name_after,
    path_length,
    tree_totals,  // rows only: a directory's files and bytes below it (--TREESIZE)
};

inline constexpr std::size_t column_count = static_cast<std::size_t>(Column::tree_totals) + 1;

enum class Field : std::uint8_t;

// What a column's fields hold, which the rows and the sort keys go by.
enum class FieldType : std::uint8_t { text, number, time, name };

// One column of the table.
struct ColumnDescriptor {
    Column id;
    std::optional<DigestId> digest;  // the digest a digest column shows
    // Whether a record holds it with these settings.
    bool (*shown)(const RunSettings&, const ColumnDescriptor&);
    // Characters with its delimiter; for a column whose width varies by
    // entry, its usual width as a negative number.
    int (*width)(const Run&, const ColumnDescriptor&);
    // Its title in the header line, none when null; true when the line
    // ends with it.
    bool (*title)(Run&, OutStream&, const ColumnDescriptor&);
    // Its fields in a CSV or JSON row, those of them the settings show.
    std::array<Field, 3> fields;
    std::size_t field_count;
    bool (*field_shown)(const RunSettings&, Field);  // every one when null
    FieldType type;
};

const ColumnDescriptor& column_spec(Column c);
// What a row's field holds: its column's type (a name for the row's kind
// and a link's target).
FieldType field_type(Field f);
constexpr std::size_t column_index(Column c) {
    return static_cast<std::size_t>(c);
}

// The columns a record holds with these settings, in order; no allocation,
// since the record writer asks for every entry.
class ColumnList {
public:
    explicit ColumnList(const RunSettings& s);
    const ColumnDescriptor* const* begin() const { return columns_.data(); }
    const ColumnDescriptor* const* end() const { return columns_.data() + count_; }
    bool has(Column c) const;

private:
    std::array<const ColumnDescriptor*, column_count> columns_{};
    std::size_t count_ = 0;
};

// Where a column stands in a fixed-width record.
struct ColumnPlace {
    Column id;
    int start;    // 0-based; -1 after a column whose width varies
    int width;    // characters with its delimiter (the usual ones when they vary)
    bool varies;  // the width changes from entry to entry
};

// The places of the run's columns, from its settings (and the comment and
// label texts, whose widths are theirs).
std::vector<ColumnPlace> place_columns(const Run& run);
// The characters of a record, counting the usual width of a varying column.
int record_length(const std::vector<ColumnPlace>& places);

// The fields of a CSV or JSON Lines row, named as the header row names
// them. They come from the record's columns, in the same order, led by the
// row's kind; a name that is not valid UTF-8 adds its bytes after the path,
// and a link's target ends the row.
enum class Field : std::uint8_t {
    kind,
    change,
    changed_facts,
    moved_from,
    dupe_group,
    sequence,
    label,
    comment,
    path,
    path_bytes,
    size,
    attributes,
    category,
    digest,  // one each, as the columns
    created = digest + digest_count,
    modified,
    accessed,
    zone,
    modified_ns,
    change_time_ns,
    device,
    inode,
    links,
    volume_serial,
    volume_label,
    short_name,
    long_name,
    extension,
    owner,
    path_length,
    tree_files,
    tree_bytes,
    target,
};
inline constexpr std::size_t field_count = static_cast<std::size_t>(Field::target) + 1;

constexpr Column digest_column(DigestId id) {
    return static_cast<Column>(static_cast<std::size_t>(Column::digest) + digest_index(id));
}
constexpr Field digest_field(DigestId id) {
    return static_cast<Field>(static_cast<std::size_t>(Field::digest) + digest_index(id));
}
// The digest a column shows; none for the other columns.
constexpr std::optional<DigestId> column_digest(Column c) {
    const auto i = static_cast<std::size_t>(c) - static_cast<std::size_t>(Column::digest);
    if (c < Column::digest || i >= digest_count) return std::nullopt;
    return static_cast<DigestId>(i);
}

// The fields of a row in order, from the run's columns.
std::vector<Field> table_fields(const RunSettings& s);
const char* field_name(Field f);
// The CSV header row, its line end included: CR LF, or a bare "\n" where
// the text file adds the CR itself.
std::string csv_header_row(const RunSettings& s, bool file_adds_cr);

// The time columns a time_type shows.
bool shows_creation(int time_type);
bool shows_write(int time_type);
bool shows_access(int time_type);

}  // namespace filarix
