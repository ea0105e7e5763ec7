// Comparing the tree with an earlier catalogue (--DIFF=FILE): the earlier
// rows indexed by their exact path bytes, each entry of the walk classified
// against them as the record asks, and at the end the rows no entry met
// written as removed. The counts of each class go to the summaries.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/change_class.hpp"
#include "catalogue/earlier_catalogue.hpp"
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
    bool add(EarlierEntry entry);
    ChangeVerdict classify(const EarlierEntry& now) override;

    // The rows no entry of the walk met, that lie under a start path and
    // are no longer there, in the catalogue's order; counted as removed.
    std::vector<const EarlierEntry*> take_removed();

    // Rows taken, and those of them under a start path.
    std::size_t rows() const { return rows_.size(); }
    std::size_t rows_under_start_paths() const;

    std::uint64_t count(ChangeClass c) const { return counts_[static_cast<std::size_t>(c)]; }

    std::string name;  // the file, as messages name it
    std::uint64_t lines_skipped = 0;
    std::uint64_t first_skipped_line = 0;

private:
    struct Slot {
        EarlierEntry entry;
        bool met = false;    // an entry of the walk has this path
        bool taken = false;  // an added entry was found to be this one, moved
    };
    bool under_start_path(const std::string& path) const;
    bool still_there(const std::string& path);
    const Slot* moved_from(const EarlierEntry& now);

    platform::System& sys_;
    std::vector<std::string> start_paths_;
    char separator_;
    bool directories_listed_;
    std::vector<Slot> rows_;
    std::unordered_map<std::string, std::size_t> by_path_;
    // "digest index:hex" of every digest a row holds, for moved files.
    std::unordered_multimap<std::string, std::size_t> by_digest_;
    // "device:inode" of every row that records both, for moved entries (two
    // names of one file share it).
    std::unordered_multimap<std::string, std::size_t> by_identity_;
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
