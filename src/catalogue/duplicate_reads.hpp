// How the duplicate search reads the files it asks about. A file is
// opened once: kept open from its sample to its digest while the batch is
// small, and read whole with one read of the size the walk listed. Of the
// files of a set (one size, one sample) up to 1 MiB, the first of each
// content is digested and the others compared with it byte for byte,
// taking its digests when equal; bigger files are each digested. The work
// goes to both cores when the run keeps two threads
// (FILARIX_DIGEST_THREADS=1 keeps one; the results are the same), the
// files opened on this thread only, as the platform asks.
#pragma once

#include <functional>
#include <memory>

#include "catalogue/duplicate_groups.hpp"
#include "core/run.hpp"
#include "record/entry_tools.hpp"

namespace filarix {

class DupeFileReads {
public:
    // `meanwhile` is the caller's own work, done a little at a time on
    // this thread while the other reads: false when there is none.
    DupeFileReads(Run& run, EntryTools& tools, const DupeCandidates& candidates, DigestSet read,
                  std::function<bool()> meanwhile);
    ~DupeFileReads();
    DupeFileReads(const DupeFileReads&) = delete;
    DupeFileReads& operator=(const DupeFileReads&) = delete;

    void samples(const DupeReads::Files& files, const DupeReads::Samples& each);
    void digests(const DupeReads::Files& files, const DupeReads::Sets& sets,
                 const DupeReads::Digests& each);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace filarix
