// The facts an entry is compared on (--DIFF), taken from the fields its
// CSV or JSON Lines row would hold, so the compare sees what a listing
// writes.
#include "record/column_writers.hpp"
#include "record/record_writer.hpp"
#include "record/table_row.hpp"
#include "record/utf8.hpp"

namespace filarix {

void RecordWriter::compare_with_earlier() {
    TableRow& row = compared_row_.emplace();
    if (!run_.layout.record_columns && !own_columns_) own_columns_.emplace(s_);
    const ColumnList& list =
        run_.layout.record_columns ? *run_.layout.record_columns : *own_columns_;
    for (const ColumnDescriptor* column : list) {
        // The sequence number is the record's to take, once.
        if (column->id == Column::sequence || column->id == Column::change) continue;
        if (const auto writer = column_writers(column->id).entry_row) writer(*this, row, *column);
    }
    // Kept from entry to entry: its texts' storage serves the next one.
    thread_local EarlierEntry now;
    const auto take = [](std::string& into, const std::string* text) {
        if (text)
            into.assign(*text);
        else
            into.clear();
    };
    now.kind = is_link_ ? "link" : is_directory_ ? "directory" : "file";
    // The row's own path_bytes is always whole hexadecimal.
    const std::string* bytes = row.value(Field::path_bytes);
    if (!bytes || !decode_hex(*bytes, now.path)) {
        if (const std::string* path = row.value(Field::path))
            now.path.assign(*path);
        else
            now.path =
                to_utf8_whole(run_.syntax, run_.syntax.without_long_prefix(e_.pg_complete_path));
    }
    now.relative_path = false;
    now.size = static_cast<std::int64_t>(e_.data.size);
    for (std::size_t i = 0; i < digest_count; ++i) {
        const std::string* d = row.value(digest_field(static_cast<DigestId>(i)));
        if (d)
            assign_stored_digest(now.digests[i], *d);
        else
            now.digests[i].clear();
    }
    take(now.modified, row.value(Field::modified));
    take(now.attributes, row.value(Field::attributes));
    take(now.owner, row.value(Field::owner));
    now.target.clear();
    now.modified_ns.reset();
    now.change_time_ns.reset();
    now.device.reset();
    now.inode.reset();
    now.links.reset();
    // The row holds them when it has their columns: a text record does
    // not ask the system for them.
    if (row.value(Field::modified_ns) || row.value(Field::device)) {
        if (const auto& facts = precise_facts()) {
            now.modified_ns = facts->modified_ns;
            now.change_time_ns = facts->change_time_ns;
            now.device = facts->device;
            now.inode = facts->inode;
            now.links = facts->links;
        }
    }
    change_ = run_.comparison->classify(now);
}

}  // namespace filarix
