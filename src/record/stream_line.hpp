// A named stream's line, which the column writers read and fill.
#pragma once

#include <string>

#include "content/digests.hpp"
#include "core/run.hpp"
#include "record/table_row.hpp"

namespace filarix {

// One line of stream fields over the record's own columns: the shared
// fields stand where the record has them, the stream's own in between.
class StreamLine {
public:
    StreamLine(Run& run, DigestEngine& engine, bool directory)
        : run_(run),
          engine_(engine),
          s_(run.s),
          out_(run.output()),
          d_(s_.delimiter),
          directory_(directory) {}

    void write(const RunSettings& columns_of);
    void write_row();
    // The stream's row in the database (--DB) beside its text line.
    void write_database_row();

    const platform::NamedStream* stream = nullptr;
    std::u16string owner_path;   // the file, or the directory without its separator
    std::u16string stream_path;  // owner path + ":name"
    std::u16string shown_name;   // ":name", controls made visible
    std::u16string directory_name;
    const CurrentEntry* entry = nullptr;  // the file's record; null for a directory

    // The rest is what the column writers read and write.
    void fill_up_to(Column next);
    // A file stream line shows the zone whenever a time type is set, even
    // when the record shows no time ('0').
    bool times_shown() const;
    void zone_column();
    void path_column();
    void name_after_column();
    std::u16string path_without_prefix() const;
    void time_column(const CalendarFields& f, char letter);
    void name_columns();
    const DigestTexts& digests();
    TableRow row(const ColumnList& columns);

    Run& run_;
    DigestEngine& engine_;
    const RunSettings& s_;
    OutStream& out_;
    const char d_;
    const bool directory_;
    TimesRecord times_;
    bool fixed_written_ = false;
    bool zone_written_ = false;
    bool digested_ = false;
    DigestTexts digests_;
    bool ended_ = false;
};

}  // namespace filarix
