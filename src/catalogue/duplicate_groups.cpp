#include "catalogue/duplicate_groups.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "content/xxh3.hpp"
#include "core/digest_registry.hpp"

namespace filarix {

namespace {

// A file among the candidates of one size: its names are order[begin, end).
// Kept small, since one size may be shared by very many files.
struct Unit {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::uint64_t sample = 0;
    std::uint64_t digests = 0;  // where its digests start in the batch's arena
};

// The digests of the files of a batch, packed: per digest a length byte
// and the digest's bytes (the texts are hexadecimal), so that a size that
// very many files share costs little more than the digests themselves.
class DigestArena {
public:
    explicit DigestArena(DigestSet wanted) : wanted_(wanted) {}
    void reserve(std::size_t units) {
        std::size_t each = 0;
        for (std::size_t i = 0; i < digest_count; ++i)
            if (wanted_.has(static_cast<DigestId>(i)))
                each += 1 + digest_row(static_cast<DigestId>(i)).bytes;
        bytes_.reserve(units * each);
    }
    // None when a text is not the hexadecimal digits a digest has.
    std::optional<std::uint64_t> add(const HeldDigests& texts) {
        const std::uint64_t at = bytes_.size();
        for (std::size_t i = 0; i < digest_count; ++i) {
            if (!wanted_.has(static_cast<DigestId>(i))) continue;
            const std::string& t = texts[i];
            if (t.size() % 2 != 0 || t.size() > 2 * 255) return rewind(at);
            bytes_.push_back(static_cast<char>(t.size() / 2));
            for (std::size_t k = 0; k < t.size(); k += 2) {
                const int hi = nibble(t[k]), lo = nibble(t[k + 1]);
                if (hi < 0 || lo < 0) return rewind(at);
                bytes_.push_back(static_cast<char>(hi << 4 | lo));
            }
        }
        return at;
    }
    std::string_view digest(std::uint64_t at, DigestId id) const {
        for (std::size_t i = 0; i < digest_count; ++i) {
            if (!wanted_.has(static_cast<DigestId>(i))) continue;
            const auto length = static_cast<unsigned char>(bytes_[at]);
            if (static_cast<DigestId>(i) == id)
                return std::string_view(bytes_).substr(at + 1, length);
            at += 1 + length;
        }
        return {};
    }
    HeldDigests texts(std::uint64_t at) const {
        static constexpr char hex[] = "0123456789ABCDEF";
        HeldDigests held;
        for (std::size_t i = 0; i < digest_count; ++i) {
            if (!wanted_.has(static_cast<DigestId>(i))) continue;
            for (const char c : digest(at, static_cast<DigestId>(i))) {
                held[i] += hex[static_cast<unsigned char>(c) >> 4];
                held[i] += hex[static_cast<unsigned char>(c) & 15];
            }
        }
        return held;
    }

private:
    static int nibble(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    std::nullopt_t rewind(std::uint64_t at) {
        bytes_.resize(at);
        return std::nullopt;
    }
    DigestSet wanted_;
    std::string bytes_;
};

// Runs of equal keys, two units or more, each handed on as a range.
template <typename Key, typename Each>
void split_runs(Unit* first, Unit* last, Key key, Each each) {
    std::sort(first, last, [&](const Unit& a, const Unit& b) { return key(a) < key(b); });
    while (first != last) {
        Unit* end = first + 1;
        while (end != last && key(*end) == key(*first)) ++end;
        if (end - first >= 2) each(first, end);
        first = end;
    }
}

// Keeps the units `keep` says yes to, in order and in place, asking once
// for each; returns the new end.
template <typename Keep>
Unit* keep_if(Unit* first, Unit* last, Keep keep) {
    Unit* out = first;
    for (Unit* u = first; u != last; ++u)
        if (keep(*u)) *out++ = *u;
    return out;
}

// The files of one size in a batch: units[begin, end).
struct SizeRun {
    std::uint64_t size;
    std::size_t begin;
    std::size_t end;
};

// Units of one size still together: units[begin, end).
struct Together {
    std::size_t run;
    std::size_t begin;
    std::size_t end;
};

// Asks `ask` about the first name of each unit of `parts`, handing it
// the files, where each part's files end among them and the unit each is
// for; a bounded number at a time, so that a size very many files share
// costs no more memory than before.
template <typename Ask>
void ask_units(const std::vector<std::uint32_t>& order, std::vector<Unit>& units,
               const std::vector<Together>& parts, Ask ask) {
    constexpr std::size_t at_once = 4096;
    DupeReads::Files files;
    DupeReads::Sets sets;
    std::vector<Unit*> who;
    const auto end_set = [&] {
        if (!files.empty() && (sets.empty() || sets.back() != files.size()))
            sets.push_back(files.size());
    };
    const auto flush = [&] {
        end_set();
        if (!files.empty()) ask(files, sets, who);
        files.clear();
        sets.clear();
        who.clear();
    };
    for (const Together& t : parts) {
        for (std::size_t k = t.begin; k < t.end; ++k) {
            files.push_back(order[units[k].begin]);
            who.push_back(&units[k]);
            if (files.size() == at_once) flush();
        }
        end_set();
    }
    flush();
}

// A unit whose file could not be read names no file any more.
void drop(Unit& u) {
    u.end = u.begin;
}
bool readable(const Unit& u) {
    return u.end != u.begin;
}

// The search over a batch of sizes, the largest first: their samples in
// one call, the digests of the files still together in another.
void search_batch(const DupeCandidates& c, const std::vector<std::uint32_t>& order,
                  std::vector<Unit>& units, const std::vector<SizeRun>& sizes,
                  const DupeReads& reads, const std::function<void(std::vector<DupeGroup>&)>& found,
                  DupeProgress& progress) {
    const auto tell = [&] {
        if (reads.progress) reads.progress(progress);
    };
    // Every file of the batch is done once sampled, unless it goes on to
    // be read whole; those count as each is read.
    for (const SizeRun& r : sizes) {
        progress.files_done += r.end - r.begin;
        progress.bytes_done += r.size * (r.end - r.begin);
    }
    const auto undo = [&](const Together& t) {
        progress.files_done -= t.end - t.begin;
        progress.bytes_done -= sizes[t.run].size * (t.end - t.begin);
    };
    std::vector<Together> sampled, digested;
    for (std::size_t r = 0; r < sizes.size(); ++r)
        (sizes[r].size > 2 * dupe_sample_bytes ? sampled : digested)
            .push_back({r, sizes[r].begin, sizes[r].end});
    if (!sampled.empty()) {
        ask_units(order, units, sampled,
                  [&](const DupeReads::Files& files, const auto&, auto& who) {
                      reads.samples(files, [&](std::size_t k, std::optional<std::uint64_t> s) {
                          if (s)
                              who[k]->sample = *s;
                          else
                              drop(*who[k]);
                      });
                  });
        for (const Together& t : sampled) {
            Unit* const first = units.data() + t.begin;
            Unit* const last = keep_if(first, units.data() + t.end, readable);
            split_runs(
                first, last, [](const Unit& u) { return u.sample; },
                [&](Unit* same, Unit* end) {
                    digested.push_back({t.run, static_cast<std::size_t>(same - units.data()),
                                        static_cast<std::size_t>(end - units.data())});
                });
        }
        // Largest size first, as the batch's sizes come.
        std::stable_sort(digested.begin(), digested.end(),
                         [](const Together& a, const Together& b) { return a.run < b.run; });
    }
    for (const Together& t : digested) undo(t);
    tell();
    if (digested.empty()) return;
    DigestArena arena(reads.read);
    std::size_t count = 0;
    for (const Together& t : digested) count += t.end - t.begin;
    arena.reserve(count);
    ask_units(order, units, digested,
              [&](const DupeReads::Files& files, const auto& sets, auto& who) {
                  reads.digests(files, sets, [&](std::size_t k, std::optional<HeldDigests>&& d) {
                      const auto at = d ? arena.add(*d) : std::nullopt;
                      if (at)
                          who[k]->digests = *at;
                      else
                          drop(*who[k]);
                      ++progress.files_done;
                      progress.bytes_done += c.size(files[k]);
                      tell();
                  });
              });
    std::vector<DupeGroup> groups;
    for (std::size_t i = 0; i < digested.size();) {
        const std::size_t run = digested[i].run;
        groups.clear();
        for (; i < digested.size() && digested[i].run == run; ++i) {
            Unit* const first = units.data() + digested[i].begin;
            Unit* const last = keep_if(first, units.data() + digested[i].end, readable);
            split_runs(
                first, last, [&](const Unit& u) { return arena.digest(u.digests, reads.decisive); },
                [&](Unit* same, Unit* end) {
                    DupeGroup g;
                    g.size = sizes[run].size;
                    for (; same != end; ++same) {
                        DupeFile f;
                        f.names.assign(order.begin() + same->begin, order.begin() + same->end);
                        f.digests = arena.texts(same->digests);
                        g.files.push_back(std::move(f));
                    }
                    groups.push_back(std::move(g));
                });
        }
        if (!groups.empty()) found(groups);
    }
}

}  // namespace

void find_duplicate_groups(const DupeCandidates& c, const DupeReads& reads,
                           const std::function<void(std::vector<DupeGroup>&)>& found) {
    std::vector<std::uint32_t> order;
    for (std::size_t i = 0; i < c.count(); ++i)
        if (c.size(i) != 0) order.push_back(static_cast<std::uint32_t>(i));
    // Largest first; the names of one file side by side.
    std::sort(order.begin(), order.end(), [&c](std::uint32_t a, std::uint32_t b) {
        if (c.size(a) != c.size(b)) return c.size(a) > c.size(b);
        return c.identity(a) < c.identity(b);
    });
    // The files a size is shared by, counted before any is read.
    DupeProgress progress;
    for (std::size_t i = 0, j; i < order.size(); i = j) {
        std::uint64_t files = 1;
        for (j = i + 1; j < order.size() && c.size(order[j]) == c.size(order[i]); ++j)
            if (c.identity(order[j - 1]) != c.identity(order[j])) ++files;
        if (files < 2) continue;
        progress.files_total += files;
        progress.bytes_total += files * c.size(order[i]);
    }
    if (reads.progress) reads.progress(progress);
    std::vector<Unit> units;
    std::vector<SizeRun> sizes;
    std::size_t i = 0;
    while (i < order.size()) {
        units.clear();
        sizes.clear();
        // Sizes in turn until the batch holds enough files; a size with
        // more than that is a batch alone.
        while (i < order.size() && units.size() < dupe_batch_files) {
            const std::uint64_t size = c.size(order[i]);
            std::size_t j = i + 1;
            while (j < order.size() && c.size(order[j]) == size) ++j;
            const std::size_t begin = units.size();
            for (std::size_t k = i; k < j; ++k)
                if (units.size() == begin || c.identity(order[k - 1]) != c.identity(order[k]))
                    units.push_back(
                        {static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k + 1)});
                else
                    units.back().end = static_cast<std::uint32_t>(k + 1);
            // A size only one file has, however many names: never read.
            if (units.size() - begin < 2) {
                units.resize(begin);
                i = j;
                continue;
            }
            if (!sizes.empty() && units.size() > dupe_batch_files) {
                units.resize(begin);
                break;
            }
            sizes.push_back({size, begin, units.size()});
            i = j;
        }
        if (!sizes.empty()) search_batch(c, order, units, sizes, reads, found, progress);
    }
}

std::uint64_t sample_hash(const unsigned char* bytes, std::size_t length, std::uint64_t seed) {
    Xxh3_128 h;
    h.update(&seed, sizeof seed);
    h.update(bytes, length);
    const auto digest = h.finish();
    std::uint64_t out;
    std::memcpy(&out, digest.data(), sizeof out);
    return out;
}

}  // namespace filarix
