// The record producer's state for one entry, which the column writers
// read and fill.
#pragma once

#include <optional>
#include <string>

#include "content/digests.hpp"
#include "content/zip_walk.hpp"
#include "core/run.hpp"
#include "record/entry_tools.hpp"
#include "record/fixed_field.hpp"
#include "record/table_row.hpp"

namespace filarix {

class RecordWriter {
public:
    RecordWriter(Run& run, EntryTools& tools, const std::u16string& directory,
                 const std::u16string* name, const platform::FindData* known,
                 const TreeCount* tree = nullptr);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // True when the entry's record was written.
    bool process();

    // The rest is what the column writers read and write.
    void count(int n) { run_.counts.line_length += n; }
    // The selection's verdict; the entry's data and times are read by then.
    bool select();
    // Shortens the path column's path to the column, as the settings ask.
    void fit_display_path();
    void write_fields();
    // Fills a row with the columns given; `compared` when the compare made
    // the row already, but for the sequence number and the change.
    void fill_row(TableRow& row, const ColumnList& columns, bool compared);
    void write_table_row();
    void write_database_row(std::uint64_t sequence);
    TableRow member_table_row(std::u16string_view name, const ZipMember& member,
                              const ColumnList& columns);
    // The run's columns, settled for the walk (or here, in a test's run).
    const ColumnList& columns();
    void write_path_column();
    void write_name_columns();
    void write_name_after();
    void write_follow_up();
    std::string member_name_column(std::u16string_view column) const;
    // Classifies the entry against the earlier catalogue (--DIFF) on the
    // facts its row holds.
    void compare_with_earlier();
    // The digests of the entry, read once for whichever digest column comes first.
    const DigestTexts& digests();
    // The digests of a file, those an earlier listing (--REUSE) or another
    // name of the file read before holds taken from there and the rest read.
    DigestTexts reused_digests(DigestSet wanted);
    // The path as the entry's CSV or JSON row holds it, exact bytes.
    std::string row_path() const;
    std::string field_text(std::u16string_view text) const;
    // The entry's full-precision times and identity, asked for once.
    const std::optional<platform::PreciseFacts>& precise_facts();
    // Adds a listed file to the run's tree totals (--TREESIZE).
    void count_in_tree();
    // Keeps a selected file for the duplicate search (--DUPES).
    void collect_dupe_candidate();

    Run& run_;
    EntryTools& tools_;
    const RunSettings& s_;
    OutStream& out_;
    const char d_;
    const std::u16string& directory_;
    // The caller's: it outlives the writer.
    const std::u16string& name_;
    const bool has_name_;
    // Lent for the record: its strings keep their room from one record to
    // the next.
    CurrentEntry& e_;
    bool is_directory_ = false;
    // A link stands for another entry, wherever that is: nothing is read
    // through it.
    bool is_link_ = false;
    bool squeezed_ = false;
    bool digested_ = false;
    DigestTexts digests_;
    std::optional<ChangeVerdict> change_;
    // The row the compare was given: in a CSV or JSON Lines listing it is
    // the row written, so its fields are made once.
    std::optional<TableRow> compared_row_;
    bool precise_asked_ = false;
    std::optional<platform::PreciseFacts> precise_;
    const platform::FindData* known_;
    // A directory's subtree totals, when its row is written after it.
    const TreeCount* tree_;
    std::optional<ColumnList> own_columns_;
    // The path column's width: the setting's, or under VAR the whole path.
    int width_;
    std::size_t display_offset_ = 0;
    std::size_t complete_offset_ = 0;
    // Name fields count characters, not bytes, where the 8-bit form is UTF-8.
    const bool narrow_utf8_;
    // A field of the name columns. Text from field_text is squeezed to one
    // byte a character once the path column has done so; a raw name is not.
    void put_name_field(std::string_view text, int width, int precision, Align align,
                        bool raw_name = false) {
        const bool utf8 = narrow_utf8_ && (raw_name || !squeezed_);
        count(static_cast<int>(put_fixed(out_, text, width, precision, align, utf8)));
        count(static_cast<int>(out_.put(d_)));
    }
};

}  // namespace filarix
