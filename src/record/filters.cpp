#include "record/filters.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include "content/signature.hpp"
#include "content/streams.hpp"
#include "core/day_count.hpp"
#include "core/shown_text.hpp"
#include "record/owner.hpp"
#include "record/time_fields.hpp"

namespace filarix {

bool attribute_filter(const RunSettings& s, std::uint32_t attributes) {
    namespace attr = platform::attr;
    if (!s.attr_filter) return true;
    if (s.directories >= 2 && !(attributes & attr::directory)) return false;
    if (s.attr_readonly && !(attributes & attr::readonly)) return false;
    if (s.attr_system && !(attributes & attr::system)) return false;
    if (s.attr_hidden && !(attributes & attr::hidden)) return false;
    if (s.attr_archive && !(attributes & attr::archive)) return false;
    if (s.attr_encrypted && !(attributes & attr::encrypted)) return false;
    return true;
}

namespace {

DateValue date_of(const CalendarFields& f) {
    return DateValue{f.month, f.day, f.year};
}

// The entry's date a bound letter asks for: access, creation, else write.
const CalendarFields& time_by_letter(const TimesRecord& t, char letter) {
    if (letter == 'a') return t.access;
    if (letter == 'c') return t.creation;
    return t.write;
}

// Day-count bounds: the shared letter and the side's own letter choose
// together, creation first, then access, then the write time.
const CalendarFields& time_by_letters(const TimesRecord& t, char shared, char own) {
    if (shared == 'c' || own == 'c') return t.creation;
    if (shared == 'a' || own == 'a') return t.access;
    return t.write;
}

int age_of(platform::System& sys, const CalendarFields& f) {
    return days_since(sys, date_of(f));
}

}  // namespace

bool age_filter(platform::System& sys, const RunSettings& s, const TimesRecord& t) {
    if (!s.aging) return true;
    const auto& kinds = s.date_kinds;

    if (kinds[1] != '0' || kinds[2] != '0') {
        // Date bounds; a file of the bound date itself is inside either one.
        if (s.NEWER && kinds[1] != '0' &&
            day_difference(date_of(time_by_letter(t, kinds[3])), s.newer_date) < 0)
            return false;
        if (s.OLDER && kinds[2] != '0' &&
            day_difference(date_of(time_by_letter(t, s.older_kind)), s.older_date) >= 1)
            return false;
        return true;
    }

    if (s.OLDER && age_of(sys, time_by_letters(t, kinds[0], s.older_kind)) < s.older_days)
        return false;
    if (s.NEWER && age_of(sys, time_by_letters(t, kinds[0], kinds[3])) >= s.newer_days)
        return false;
    return true;
}

bool delete_child_object(Run& run, const std::u16string& complete_path) {
    const RunSettings& s = run.s;
    if (run.sizing_pass || s.NOCHILD == nochild_off) return false;
    // Only what lies below the start path decides: a start path such as
    // "/backup/my_childobjects_backup" does not doom all it holds.
    const std::u16string_view below =
        std::u16string_view(complete_path)
            .substr(std::min(run.start_path_length, complete_path.size()));
    if (below.find(u"\u200C") == std::u16string_view::npos &&
        below.find(u"_childobjects") == std::u16string_view::npos)
        return false;
    run.std_out.printf("%s\n", shown_name(run.sys, complete_path).c_str());
    if (s.NOCHILD == nochild_delete && !run.sys.delete_file(complete_path))
        run.std_err.printf(
            "Can't delete %s\n",
            shown_name(run.sys, run.syntax.without_long_prefix(complete_path)).c_str());
    return true;
}

namespace {

bool has_streams(Run& run, Candidate& c) {
    return !run.s.ADSONLY || enumerate_streams(run, c.directory + c.name) != 0;
}

bool long_enough(Run& run, Candidate& c) {
    return !run.s.SHOWLONG ||
           c.entry.pg_complete_path.size() >= static_cast<std::size_t>(run.s.showlong_min);
}

// The owner filter's text must begin with the owner's name, in any case.
bool owned(Run& run, Candidate& c) {
    if (run.s.owner < 2) return true;
    const std::string owner = owner_of_path(run.sys, c.entry.pg_complete_path);
    if (run.s.owner_name.size() < owner.size()) return false;
    for (std::size_t i = 0; i < owner.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(owner[i])) !=
            std::toupper(static_cast<unsigned char>(run.s.owner_name[i])))
            return false;
    return true;
}

// Reads the entry's own data, unless the walker's search already has; an
// entry gone since is not selected.
bool found(Run& run, Candidate& c) {
    CurrentEntry& e = c.entry;
    if (c.known) {
        e.data = *c.known;
    } else {
        auto search = run.sys.find_first(e.pg_complete_path, e.data, platform::SearchDetail::full);
        if (!search) return false;
        // A POSIX name may hold "*" or "?", which the search reads as a
        // mask: the entry itself is the one whose name is the path's own.
        const std::size_t sep = run.syntax.last_separator(e.pg_complete_path);
        const std::u16string_view own = std::u16string_view(e.pg_complete_path)
                                            .substr(sep == std::u16string::npos ? 0 : sep + 1);
        if (platform::has_wildcards(own) && e.data.name != own) {
            platform::FindData candidate;
            while (search->next(candidate))
                if (candidate.name == own) {
                    e.data = std::move(candidate);
                    break;
                }
        }
    }
    convert_times(run.sys, e.data, e.times, run.s.ZULU != 0);
    c.is_directory = (e.data.attributes & platform::attr::directory) != 0;
    c.is_link = e.data.link;
    return true;
}

bool attributes(Run& run, Candidate& c) {
    return attribute_filter(run.s, c.entry.data.attributes);
}

bool age(Run& run, Candidate& c) {
    return age_filter(run.sys, run.s, c.entry.times);
}

bool size(Run& run, Candidate& c) {
    const auto bytes = static_cast<std::int64_t>(c.entry.data.size);
    if (run.s.GREATER && bytes < run.s.size_greater) return false;
    if (run.s.LESSTHAN && bytes > run.s.size_less) return false;
    return true;
}

// Fills the category column; with header_only set, a mode drops the
// entries its check does not ask for.
bool signature(Run& run, Candidate& c) {
    const RunSettings& s = run.s;
    if (run.sizing_pass || s.signature_check == signature_none) return true;
    int mismatch = 0, matched = 0;
    if (c.entry.data.size != 0 && !c.is_link)
        check_file_type(run, c.entry.pg_complete_path, c.entry.data.size, c.entry.category_text,
                        mismatch, matched);
    else
        c.entry.category_text = "   ";
    if (s.header_only) {
        if (s.signature_check == signature_minus &&
            ((mismatch == 1 && matched == 0) || (mismatch == 0 && matched == 1)))
            return false;
        if (s.signature_check == signature_plus && mismatch != 0) return false;
    }
    return true;
}

// Counts the entry as known or unknown to the --HASHSET set; whether the
// matching mode lists it.
bool known_set(Run& run, Candidate& c) {
    const RunSettings& s = run.s;
    if (!s.HASHSET || run.sizing_pass) return true;
    // A directory has no contents to look up; the matching modes list files.
    if (c.is_directory) return s.hashset_match == hashset_all;
    // --DUPES: the walk reads a file here only when the set selects; the
    // rows written afterwards are the ones counted, from their group's read.
    const bool collecting = s.DUPES && run.dupe_row.group == 0;
    if (collecting && s.hashset_match == hashset_all) return true;
    const DigestTexts& texts = c.digests();
    const KnownDigests& set = run.known_digests;
    bool known = false;
    if (texts.read_ok && set.kind()) known = set.contains_hex(texts.of(*set.kind()));
    if (!collecting) ++(known ? run.counts.known_files : run.counts.unknown_files);
    if (s.hashset_match == hashset_known_only) return known;
    if (s.hashset_match == hashset_unknown_only) return !known;
    return true;
}

constexpr NamedPredicate on_path[] = {
    {"streams only", has_streams},
    {"path length", long_enough},
};

constexpr NamedPredicate on_entry[] = {
    {"owner", owned}, {"found", found},         {"attributes", attributes}, {"age", age},
    {"size", size},   {"signature", signature}, {"known set", known_set},
};

}  // namespace

std::span<const NamedPredicate> path_predicates() {
    return on_path;
}

std::span<const NamedPredicate> entry_predicates() {
    return on_entry;
}

bool passes(Run& run, Candidate& c, std::span<const NamedPredicate> predicates) {
    return std::all_of(predicates.begin(), predicates.end(),
                       [&](const NamedPredicate& p) { return p.keeps(run, c); });
}

}  // namespace filarix
