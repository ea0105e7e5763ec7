// Which of the walk's files hold the same contents, found as fast
// duplicate finders find them: files are grouped by size, and a file whose
// size no other has is never read; a group's files are then told apart by
// a hash of their first and last bytes, and only those still together are
// read whole: the first of each content digested, the others compared with
// it byte for byte. Names of one file (hard links) are one file: read once,
// and never a copy of themselves. Empty files are no duplicates.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/digest_reuse.hpp"
#include "core/digest_set.hpp"
#include "core/dupe_candidates.hpp"

namespace filarix {

// The bytes the sample takes from each end of a file. A file no longer
// than two of them is read whole by its digest at once: its sample would
// be its whole contents, read twice.
inline constexpr std::uint64_t dupe_sample_bytes = 4096;

// The files the search asks about in one call, read the same way: few
// enough to stay open from their sample to their digest, and enough that
// the two threads seldom wait for each other's last file between calls.
inline constexpr std::size_t dupe_batch_files = 128;

// One file of a group: its names among the candidates and its digests.
struct DupeFile {
    std::vector<std::size_t> names;
    HeldDigests digests;
};

struct DupeGroup {
    std::uint64_t size = 0;
    std::vector<DupeFile> files;  // two or more
};

// How contents are read: a file is named by one of its candidates, and
// each call asks about several files, so that they may be read together.
// The answers come on the calling thread, one per file, in any order,
// each with the file's place in the list asked about.
struct DupeReads {
    using Files = std::vector<std::size_t>;
    // Where each set of files that may hold the same contents ends among
    // the files asked about (the sets side by side): the reads may prove a
    // file of a set a copy of another by its bytes, and hand it that
    // file's digests.
    using Sets = std::vector<std::size_t>;
    // A hash of each file's first and last bytes; none when it cannot be read.
    using Samples = std::function<void(std::size_t, std::optional<std::uint64_t>)>;
    std::function<void(const Files&, const Samples&)> samples;
    // Each file's digests; none when it cannot be read whole.
    using Digests = std::function<void(std::size_t, std::optional<HeldDigests>&&)>;
    std::function<void(const Files&, const Sets&, const Digests&)> digests;
    // Told how far the search is, as files are read; may be empty.
    std::function<void(const DupeProgress&)> progress;
    // The digests read, those asked for, and of them the one that proves
    // two files the same.
    DigestSet read{DigestId::sha256};
    DigestId decisive = DigestId::sha256;
};

// Hands `found` the groups of each size in turn, the largest size first;
// the groups of one size in no particular order.
void find_duplicate_groups(const DupeCandidates& candidates, const DupeReads& reads,
                           const std::function<void(std::vector<DupeGroup>&)>& found);

// The hash of a sample: any good spread will do, a collision costs only a
// digest.
std::uint64_t sample_hash(const unsigned char* bytes, std::size_t length, std::uint64_t seed);

}  // namespace filarix
