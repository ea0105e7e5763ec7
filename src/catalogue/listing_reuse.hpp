// Taking digests from an earlier listing of this program (--REUSE=FILE):
// its file rows held by their exact path, a file of the walk matched to its
// row on its size, full-precision write and change times, device and inode,
// and the files whose digests all came from it counted for the summaries.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/earlier_rows.hpp"
#include "core/digest_reuse.hpp"
#include "core/run.hpp"

namespace filarix {

class ListingReuse final : public DigestReuse {
public:
    // Takes a row read from the listing; false for a path already taken.
    // Rows of anything but a file are kept out: only a file's digests are
    // reused.
    bool add(EarlierEntry entry);
    std::size_t rows() const { return rows_.size(); }

    std::optional<HeldDigests> held_digests(std::string_view path, std::uint64_t size,
                                            const platform::PreciseFacts& now) override;
    void count_unread(std::uint64_t size) override;

    std::uint64_t files_unread() const { return files_unread_; }
    std::uint64_t bytes_unread() const { return bytes_unread_; }

    std::string name;  // the file, as messages name it
    std::uint64_t lines_skipped = 0;
    std::uint64_t first_skipped_line = 0;

private:
    EarlierRows rows_;
    std::uint64_t files_unread_ = 0;
    std::uint64_t bytes_unread_ = 0;
};

// Reads the listing --REUSE names, before anything is listed. A file that
// cannot be read and anything but a CSV or JSON Lines listing of this
// program end the run with the input-file status, the message naming it.
void open_reuse_listing(Run& run);

// "Digests reused from FILE: ..." and the lines passed over; on the
// console the line comes first and its end after.
void write_reuse_counts(const Run& run, OutStream& out, bool console);

}  // namespace filarix
