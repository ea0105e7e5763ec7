// Reads a catalogue written earlier, so that a run can compare a tree with
// it or take digests from it: a CSV or JSON Lines listing of this program,
// a checksum list of md5sum, sha1sum, sha256sum or sha512sum (plain or
// tagged), or a hashdeep file. Rows come one at a time in the file's
// order, so a catalogue of any size is read in constant memory; a line that
// is not a row is counted and passed over, never guessed at.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/digest_registry.hpp"
#include "core/earlier_entry.hpp"
#include "core/out_stream.hpp"
#include "platform/platform.hpp"

namespace filarix {

enum class CatalogueFormat {
    csv_listing,
    jsonl_listing,
    checksum_list,  // md5sum and its kin: digests and paths only
    hashdeep,       // sizes, digests and paths
    text_listing,   // this program's fixed-width records: not accepted
    unknown,
};

// The name a message gives the format.
const char* catalogue_format_name(CatalogueFormat format);

class CatalogueReader {
public:
    // Fills the buffer with the file's next bytes and returns how many; 0 at
    // the end, or when reading fails (then `failed` says so).
    using ReadBytes = std::function<std::size_t(char* buffer, std::size_t size)>;

    explicit CatalogueReader(ReadBytes read);

    // Reads as far as the first row and tells the format from it.
    CatalogueFormat format();
    // The next row; false at the end of the file.
    bool next(EarlierEntry& entry);

    // Lines that were neither a row nor a header or comment of the format.
    std::uint64_t lines_skipped() const { return skipped_; }
    // The 1-based line number of the first of them, for the message.
    std::uint64_t first_skipped_line() const { return first_skipped_; }
    // Digests of the format named by the header (hashdeep, CSV) or by the
    // rows' lengths and tags (checksum lists), seen so far.
    DigestSet digests_seen() const { return seen_; }

    // Lines longer than this are not rows of any catalogue: they are passed
    // over, not held, so a file without line ends cannot take all memory.
    static constexpr std::size_t longest_line = 1 << 20;

private:
    enum class LineResult { line, too_long, end };
    // With `whole`, the line is read into it: a view of the buffer where
    // the line lies whole in it, not copied, else of `line`. The view
    // holds until the next line is read.
    LineResult read_line(std::string& line, bool csv_quotes, std::string_view* whole = nullptr);
    bool fill();
    void skip(std::uint64_t line_number);
    bool parse_row(std::string_view line, bool last_line_ended, EarlierEntry& entry);
    bool parse_csv_header(const std::string& line);
    bool parse_hashdeep_header(const std::string& line);
    bool csv_row(std::string_view line, EarlierEntry& entry);
    bool jsonl_row(std::string_view line, EarlierEntry& entry);
    bool checksum_row(std::string_view line, EarlierEntry& entry);
    bool hashdeep_row(std::string_view line, EarlierEntry& entry);

    ReadBytes read_;
    std::string buffer_;
    std::string line_;  // the line read last; its storage serves the next
    std::size_t at_ = 0;
    bool ended_ = false;
    bool line_ended_ = true;  // the line read last had its line end
    bool started_ = false;
    bool started_rows_ = false;  // the first line has been read whole
    std::uint64_t line_number_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t first_skipped_ = 0;
    CatalogueFormat format_ = CatalogueFormat::unknown;
    std::optional<EarlierEntry> first_row_;
    DigestSet seen_;
    // The column of each field a CSV header or hashdeep header names, in
    // the order of the row.
    std::array<int, 48> csv_columns_{};
    std::size_t csv_column_count_ = 0;
};

// A catalogue file open for reading: the reader reads it, and a file that
// cannot be opened, or whose reading breaks off, reads as having ended.
class CatalogueFile {
public:
    CatalogueFile(platform::System& sys, std::u16string_view path);
    // The file's format; unknown for a file that could not be opened.
    CatalogueFormat format() { return failed_ ? CatalogueFormat::unknown : reader_.format(); }
    bool next(EarlierEntry& entry) { return reader_.next(entry); }
    // The file could not be opened, or reading it broke off.
    bool failed() const { return failed_; }
    const CatalogueReader& reader() const { return reader_; }

private:
    std::unique_ptr<platform::InputFile> file_;
    bool failed_;
    CatalogueReader reader_;
};

// Calls `take` with every row of the file in order. On a machine of two
// cores or more a thread of its own parses the rows while this one takes
// them: parsing a row costs about what storing it does. An exception
// `take` throws ends the reading and comes out of here.
void read_rows(CatalogueFile& file, const std::function<void(EarlierEntry&)>& take);
// The same, a few dozen rows at a time, so that the taker can look ahead.
void read_row_batches(CatalogueFile& file,
                      const std::function<void(std::span<EarlierEntry>)>& take);

// "Lines of NAME passed over: N (the first is line L)" when N > 0, as the
// other summary lines are written: on the console the line comes first and
// its end after.
void write_lines_passed_over(OutStream& out, const std::string& name, std::uint64_t skipped,
                             std::uint64_t first_line, bool console);

}  // namespace filarix
