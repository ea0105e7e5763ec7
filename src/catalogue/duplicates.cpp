#include "catalogue/duplicates.hpp"

#include <algorithm>
#include <deque>

#include "catalogue/duplicate_groups.hpp"
#include "catalogue/duplicate_reads.hpp"
#include "content/digests.hpp"
#include "core/digest_registry.hpp"
#include "core/numbers.hpp"
#include "record/process_entry.hpp"

namespace filarix {

namespace {

DigestId strongest(DigestSet set) {
    const DigestRow* best = nullptr;
    for (const DigestRow& row : digest_rows)
        if (set.has(row.id) && (!best || row.strength > best->strength)) best = &row;
    return best->id;
}

// The digests the rows show and the hash set looks up, from one read.
// The strongest of them proves a group, but never one weaker than
// SHA-256: two files made to share a CRC-32, an MD5 or a SHA-1 are no
// copies, and a listing of copies is read as a list of what may go.
DigestSet digests_read(const Run& run) {
    DigestSet wanted = shown_digests(run.s);
    if (const auto set_kind = run.known_digests.kind()) wanted.add(*set_kind);
    if (wanted.empty() ||
        digest_row(strongest(wanted)).strength < digest_row(DigestId::sha256).strength)
        wanted.add(DigestId::sha256);
    return wanted;
}

void poll_interrupt(Run& run) {
    if (run.sys.interrupted()) end_run(exit_code::user_aborted);
}

void write_group(Run& run, EntryTools& tools, const DupeCandidates& c, DupeGroup& group) {
    DupeTotals& totals = run.dupe_totals;
    ++totals.groups;
    totals.files += group.files.size();
    totals.bytes_saved += group.size * (group.files.size() - 1);
    struct Name {
        std::size_t candidate;
        const HeldDigests* digests;
    };
    std::vector<Name> names;
    for (const DupeFile& f : group.files)
        for (std::size_t n : f.names) names.push_back({n, &f.digests});
    std::sort(names.begin(), names.end(), [&c](const Name& a, const Name& b) {
        return c.path_before(a.candidate, b.candidate);
    });
    for (const Name& n : names) {
        poll_interrupt(run);
        run.dupe_row = {totals.groups, n.digests};
        const std::u16string directory(c.directory(n.candidate));
        const std::u16string name(c.name(n.candidate));
        process_entry(run, tools, directory, &name);
    }
    run.dupe_row = {};
}

std::size_t first_name(const DupeCandidates& c, const DupeGroup& g) {
    std::size_t first = g.files.front().names.front();
    for (const DupeFile& f : g.files)
        for (std::size_t n : f.names)
            if (c.path_before(n, first)) first = n;
    return first;
}

}  // namespace

void list_duplicates(Run& run, EntryTools& tools,
                     const std::function<void(const DupeProgress&)>& progress) {
    const DupeCandidates& c = run.dupe_candidates;
    const DigestSet wanted = digests_read(run);
    // Groups found and not yet written, in order: written while the other
    // thread reads, so that this one does not leave it idle meanwhile.
    std::deque<DupeGroup> waiting;
    const auto write_one = [&] {
        if (waiting.empty()) return false;
        write_group(run, tools, c, waiting.front());
        waiting.pop_front();
        return true;
    };
    DupeFileReads files(run, tools, c, wanted, write_one);
    DupeReads reads;
    reads.read = wanted;
    reads.decisive = strongest(wanted);
    reads.samples = [&](const DupeReads::Files& f, const DupeReads::Samples& each) {
        files.samples(f, each);
    };
    reads.digests = [&](const DupeReads::Files& f, const DupeReads::Sets& sets,
                        const DupeReads::Digests& each) { files.digests(f, sets, each); };
    reads.progress = progress;
    // A row is written with the group's number only once the search is
    // over for its size, so that a group is never split.
    find_duplicate_groups(c, reads, [&](std::vector<DupeGroup>& groups) {
        std::vector<std::pair<std::size_t, DupeGroup*>> ordered;
        for (DupeGroup& g : groups) ordered.emplace_back(first_name(c, g), &g);
        std::sort(ordered.begin(), ordered.end(),
                  [&c](const auto& a, const auto& b) { return c.path_before(a.first, b.first); });
        for (const auto& [first, g] : ordered) waiting.push_back(std::move(*g));
    });
    while (write_one()) {
    }
    run.dupe_candidates.release();
}

void write_duplicate_counts(const Run& run, OutStream& out, bool console) {
    if (!run.s.DUPES) return;
    const DupeTotals& t = run.dupe_totals;
    out.printf(console ? "\n  Duplicate groups: %llu, files: %llu, bytes that could be saved: %s"
                       : "  Duplicate groups: %llu, files: %llu, bytes that could be saved: %s\n",
               static_cast<unsigned long long>(t.groups), static_cast<unsigned long long>(t.files),
               format_thousands64(static_cast<std::int64_t>(t.bytes_saved)).c_str());
}

}  // namespace filarix
