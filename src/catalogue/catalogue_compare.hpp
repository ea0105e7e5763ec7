// Comparing the tree with an earlier catalogue (--DIFF=FILE): the earlier
// rows held compactly (earlier_rows) and found by their exact path bytes,
// each entry of the walk classified against them as the record asks, and
// at the end the rows no entry met written as removed. The counts of each class go to the
// summaries.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/change_class.hpp"
#include "catalogue/earlier_catalogue.hpp"
#include "catalogue/earlier_rows.hpp"
#include "core/entry_comparison.hpp"
#include "core/run.hpp"

namespace filarix {

class CatalogueComparison final : public EntryComparison {
public:
    // `start_paths` as the rows of this run write them (exact bytes, each
    // ending in its separator); relative paths are taken against the first.
    CatalogueComparison(platform::System& sys, std::vector<std::string> start_paths, char separator,
                        bool directories_listed);

    // Takes a row read from the catalogue; false for a path already taken.
    bool add(const EarlierEntry& entry);
    // Takes rows read together; returns how many were paths already taken.
    std::uint64_t add(std::span<const EarlierEntry> entries);
    ChangeVerdict classify(const EarlierEntry& now) override;

    // The rows no entry of the walk met, that lie under a start path and
    // are no longer there, in the catalogue's order; counted as removed.
    // Each is handed to `write` as it is found, so that a catalogue of a
    // tree since emptied is never held whole.
    std::uint64_t take_removed(const std::function<void(const EarlierEntry&)>& write);
    std::vector<std::unique_ptr<EarlierEntry>> take_removed();

    // Rows taken, and whether one of them lies under a start path.
    std::size_t rows() const { return rows_.size(); }
    bool any_row_under_start_paths() const;
    // The memory the rows and their indexes take.
    std::size_t bytes_held() const;

    std::uint64_t count(ChangeClass c) const { return counts_[static_cast<std::size_t>(c)]; }

    std::string name;  // the file, as messages name it
    std::uint64_t lines_skipped = 0;
    std::uint64_t first_skipped_line = 0;

private:
    // What the walk found of each row.
    enum : std::uint8_t { met = 1, taken = 2 };
    bool hold(const EarlierEntry& entry, std::uint32_t hash);
    bool under_start_path(std::string_view path) const;
    bool still_there(const std::string& path);
    std::optional<std::size_t> moved_from(const EarlierEntry& now);
    void index_unmet_rows();

    platform::System& sys_;
    std::vector<std::string> start_paths_;
    char separator_;
    bool directories_listed_;
    EarlierRows rows_;
    std::vector<std::uint8_t> state_;
    // The digests of the rows the walk had not met when an added entry
    // first asked, for moved files; built then, not before.
    HashSlots by_digest_;
    // "device, inode" of the same rows, where they record both.
    HashSlots by_identity_;
    bool unmet_indexed_ = false;
    EarlierEntry scratch_;
    std::size_t next_row_ = 0;
    std::array<std::uint64_t, 5> counts_{};
};

// Reads the catalogue --DIFF names, before the walk. A file that cannot
// be read, a fixed-width listing and a file that is no catalogue end the
// run with the input-file status, the message naming the file.
void open_earlier_catalogue(Run& run);

// Writes the removed rows from the catalogue's data; returns how many.
std::uint64_t write_removed_rows(Run& run);

// "Compared with FILE: ..." and the lines passed over, as the hash set's
// counts are written: on the console the line comes first and its end after.
void write_comparison_counts(const Run& run, OutStream& out, bool console);

}  // namespace filarix
