#include "catalogue/catalogue_compare.hpp"

#include <algorithm>
#include <functional>

#include "catalogue/database.hpp"
#include "core/columns.hpp"
#include "core/listing_file.hpp"
#include "core/shown_text.hpp"
#include "record/column_writers.hpp"
#include "record/database_rows.hpp"
#include "record/fixed_field.hpp"
#include "record/table_row.hpp"
#include "record/utf8.hpp"

namespace filarix {

namespace {

// Rows of these kinds stand for entries of the walk; streams and ZIP
// members are listed below them and not compared on their own.
bool compared_kind(const std::string& kind, bool directories_listed) {
    return kind == "file" || kind == "link" || (kind == "directory" && directories_listed);
}

ChangeVerdict verdict(ChangeClass c, unsigned facts = 0) {
    return {change_letter(c),
            change_name(c),
            // Most entries are unchanged: no text to make.
            facts == 0 ? std::string() : changed_facts_text(facts),
            {},
            c == ChangeClass::unchanged};
}

std::uint32_t digest_hash(DigestId id, std::string_view bytes) {
    const std::uint64_t h = std::hash<std::string_view>{}(bytes) + digest_index(id);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

std::uint32_t identity_hash(std::uint64_t device, std::uint64_t inode) {
    const std::uint64_t h = (device * 0x9E3779B97F4A7C15ull) ^ (inode + (inode << 29));
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// A digest of the walk as its bytes; empty for a text that is none.
std::string digest_bytes_of(DigestId id, std::string_view hex) {
    std::string bytes;
    if (hex.size() != 2 * digest_row(id).bytes) return bytes;
    const auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = value(hex[i]);
        const int low = value(hex[i + 1]);
        if (high < 0 || low < 0) return {};
        bytes += static_cast<char>(high << 4 | low);
    }
    return bytes;
}

}  // namespace

CatalogueComparison::CatalogueComparison(platform::System& sys,
                                         std::vector<std::string> start_paths, char separator,
                                         bool directories_listed)
    : sys_(sys),
      start_paths_(std::move(start_paths)),
      separator_(separator),
      directories_listed_(directories_listed) {}

bool CatalogueComparison::add(const EarlierEntry& entry) {
    if (!compared_kind(entry.kind, true)) return true;
    if (entry.relative_path && !start_paths_.empty()) {
        std::string_view rest = entry.path;
        while (rest.size() > 2 && rest[0] == '.' && (rest[1] == '/' || rest[1] == '\\'))
            rest.remove_prefix(2);
        EarlierEntry under = entry;
        under.path = start_paths_.front();
        under.path += rest;
        if (separator_ == '\\') std::replace(under.path.begin(), under.path.end(), '/', '\\');
        under.relative_path = false;
        return hold(under, EarlierRows::path_hash(under.path));
    }
    return hold(entry, EarlierRows::path_hash(entry.path));
}

std::uint64_t CatalogueComparison::add(std::span<const EarlierEntry> entries) {
    // The index slot of a row some rows on is fetched while this one is
    // stored: the slots of a large catalogue are far beyond the caches,
    // and waiting for each was most of what storing a row cost.
    constexpr std::size_t ahead = 8;
    std::array<std::uint32_t, ahead> hashes{};
    const auto fetch = [&](std::size_t i) {
        hashes[i % ahead] = EarlierRows::path_hash(entries[i].path);
        rows_.prefetch(hashes[i % ahead]);
    };
    for (std::size_t i = 0; i < std::min(ahead, entries.size()); ++i) fetch(i);
    std::uint64_t duplicates = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint32_t hash = hashes[i % ahead];
        if (i + ahead < entries.size()) fetch(i + ahead);
        const EarlierEntry& entry = entries[i];
        // A relative path is made whole first, which gives another hash.
        const bool taken = !compared_kind(entry.kind, true) ||
                           (entry.relative_path ? add(entry) : hold(entry, hash));
        if (!taken) ++duplicates;
    }
    return duplicates;
}

// The first row of a path is the one compared.
bool CatalogueComparison::hold(const EarlierEntry& entry, std::uint32_t hash) {
    if (!rows_.add(entry, hash)) return false;
    state_.push_back(0);
    unmet_indexed_ = false;
    return true;
}

bool CatalogueComparison::under_start_path(std::string_view path) const {
    return std::any_of(start_paths_.begin(), start_paths_.end(), [&](const std::string& start) {
        return path.size() > start.size() && path.compare(0, start.size(), start) == 0;
    });
}

bool CatalogueComparison::any_row_under_start_paths() const {
    std::string path;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        rows_.read_path(i, path);
        if (under_start_path(path)) return true;
    }
    return false;
}

std::size_t CatalogueComparison::bytes_held() const {
    return rows_.bytes_held() + state_.capacity() + by_digest_.bytes() + by_identity_.bytes();
}

bool CatalogueComparison::still_there(const std::string& path) {
    return sys_.exists(sys_.wide(path));
}

void CatalogueComparison::index_unmet_rows() {
    by_digest_ = HashSlots();
    by_identity_ = HashSlots();
    // Sized once: growing would hold the old table and the new at once.
    std::size_t held = 0;
    for (std::size_t r = 0; r < rows_.size(); ++r)
        if (state_[r] == 0)
            for (std::size_t i = 0; i < digest_count; ++i)
                held += rows_.digest_bytes(r, static_cast<DigestId>(i)).empty() ? 0 : 1;
    by_digest_.reserve(held);
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (state_[r] != 0) continue;
        for (std::size_t i = 0; i < digest_count; ++i) {
            const auto id = static_cast<DigestId>(i);
            const std::string_view bytes = rows_.digest_bytes(r, id);
            if (!bytes.empty())
                by_digest_.insert(digest_hash(id, bytes), static_cast<std::uint32_t>(r));
        }
        rows_.read(r, scratch_);
        if (scratch_.device && scratch_.inode)
            by_identity_.insert(identity_hash(*scratch_.device, *scratch_.inode),
                                static_cast<std::uint32_t>(r));
    }
    unmet_indexed_ = true;
}

// An added entry is an earlier row moved when the earlier path is gone and
// they hold the same size and the same strongest digest both have, or both
// record the same device and inode. A file system gives a freed inode to
// the next new file, so an identity counts only with the same size and
// write time: a new file in a deleted one's inode is added, not moved.
std::optional<std::size_t> CatalogueComparison::moved_from(const EarlierEntry& now) {
    std::vector<std::uint32_t> candidates;
    for (std::size_t i = 0; i < digest_count; ++i) {
        const auto id = static_cast<DigestId>(i);
        const std::string bytes = digest_bytes_of(id, now.digests[i]);
        if (bytes.empty()) continue;
        if (!unmet_indexed_) index_unmet_rows();
        candidates.clear();
        by_digest_.each(digest_hash(id, bytes), [&](std::uint32_t r) {
            if (state_[r] == 0 && rows_.digest_bytes(r, id) == bytes) candidates.push_back(r);
            return false;
        });
        // The first of them in the catalogue, whatever the index's order.
        std::sort(candidates.begin(), candidates.end());
        for (const std::uint32_t r : candidates) {
            rows_.read(r, scratch_);
            const EarlierEntry& before = scratch_;
            if (before.kind != now.kind) continue;
            if (!before.size || !now.size || *before.size != *now.size) continue;
            const auto shared = strongest_shared_digest(before, now);
            if (!shared || before.digest(*shared) != now.digest(*shared)) continue;
            if (!under_start_path(before.path) || still_there(before.path)) continue;
            state_[r] |= taken;
            return r;
        }
    }
    if (!now.device || !now.inode) return std::nullopt;
    if (!unmet_indexed_) index_unmet_rows();
    candidates.clear();
    by_identity_.each(identity_hash(*now.device, *now.inode), [&](std::uint32_t r) {
        if (state_[r] == 0) candidates.push_back(r);
        return false;
    });
    std::sort(candidates.begin(), candidates.end());
    for (const std::uint32_t r : candidates) {
        rows_.read(r, scratch_);
        const EarlierEntry& before = scratch_;
        if (before.device != now.device || before.inode != now.inode) continue;
        if (before.kind != now.kind || before.size != now.size) continue;
        if (before.modified_ns != now.modified_ns) continue;
        if (!under_start_path(before.path) || still_there(before.path)) continue;
        state_[r] |= taken;
        return r;
    }
    return std::nullopt;
}

ChangeVerdict CatalogueComparison::classify(const EarlierEntry& now) {
    ChangeClass c = ChangeClass::added;
    unsigned facts = 0;
    std::string from;
    // A catalogue of this tree lists it in walk order: the row after the
    // one met last is most often this entry's.
    std::optional<std::size_t> at;
    if (next_row_ < rows_.size() && rows_.holds_path(next_row_, now.path))
        at = next_row_;
    else
        at = rows_.find(now.path);
    if (at) {
        next_row_ = *at + 1;
        state_[*at] |= met;
        // Both write times in nanoseconds: the text of the earlier one is
        // not compared, so not made; nor is the path, which is this one's.
        rows_.read(*at, scratch_, !now.modified_ns, false);
        facts = changed_facts(scratch_, now);
        c = facts == 0 ? ChangeClass::unchanged : ChangeClass::changed;
    } else if (const auto earlier = moved_from(now)) {
        c = ChangeClass::moved;
        rows_.read_path(*earlier, from);
    }
    ++counts_[static_cast<std::size_t>(c)];
    ChangeVerdict v = verdict(c, facts);
    v.moved_from = std::move(from);
    return v;
}

std::uint64_t CatalogueComparison::take_removed(
    const std::function<void(const EarlierEntry&)>& write) {
    std::uint64_t n = 0;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (state_[r] != 0) continue;
        rows_.read(r, scratch_);
        const EarlierEntry& e = scratch_;
        if (!compared_kind(e.kind, directories_listed_) || !under_start_path(e.path)) continue;
        // There still, only not selected by this run's masks or filters.
        if (still_there(e.path)) continue;
        state_[r] |= taken;
        ++counts_[static_cast<std::size_t>(ChangeClass::removed)];
        ++n;
        write(e);
    }
    return n;
}

std::vector<std::unique_ptr<EarlierEntry>> CatalogueComparison::take_removed() {
    std::vector<std::unique_ptr<EarlierEntry>> removed;
    take_removed(
        [&](const EarlierEntry& e) { removed.push_back(std::make_unique<EarlierEntry>(e)); });
    return removed;
}

void open_earlier_catalogue(Run& run) {
    if (run.s.diff_name.empty()) return;
    const std::string name = run.sys.narrow(run.s.diff_name);
    // A database hands over the rows of an earlier run; any other file is
    // read as a catalogue.
    const bool database = names_database(run.sys, run.s.diff_name);
    std::optional<CatalogueFile> file;
    if (!database) {
        file.emplace(run.sys, run.s.diff_name);
        const CatalogueFormat format = file->format();
        if (file->failed()) {
            run.std_out.printf("\nCannot find/open %s", name.c_str());
            end_run(exit_code::input_file);
        }
        if (format == CatalogueFormat::text_listing) {
            run.std_err.printf(
                "\nCan't compare with %s: it is a fixed-width listing, whose paths may be "
                "shortened; compare with a --CSV or --JSONL listing\n",
                name.c_str());
            end_run(exit_code::input_file);
        }
        if (format == CatalogueFormat::unknown) {
            run.std_err.printf(
                "\nCan't compare with %s: it is no CSV or JSON Lines listing, checksum file or "
                "hashdeep file\n",
                name.c_str());
            end_run(exit_code::input_file);
        }
    }
    std::vector<std::string> starts;
    for (const std::u16string& root : run.s.root_list) {
        std::string start = to_utf8_whole(run.syntax, run.syntax.without_long_prefix(root));
        if (start.empty() || start.back() != static_cast<char>(run.syntax.separator))
            start += static_cast<char>(run.syntax.separator);
        starts.push_back(std::move(start));
    }
    auto comparison = std::make_unique<CatalogueComparison>(run.sys, std::move(starts),
                                                            static_cast<char>(run.syntax.separator),
                                                            run.s.directories != 0);
    comparison->name = name;
    std::uint64_t duplicates = 0;
    if (database) {
        read_database_rows(run, run.s.diff_name, "Can't compare with", [&](EarlierEntry&& entry) {
            if (!comparison->add(entry)) ++duplicates;
        });
    } else {
        read_row_batches(*file, [&](std::span<EarlierEntry> entries) {
            duplicates += comparison->add(entries);
        });
        if (file->failed()) {
            run.std_out.printf("\nCannot find/open %s", name.c_str());
            end_run(exit_code::input_file);
        }
    }
    // Most likely a catalogue of another tree: what matches is compared.
    if (comparison->rows() != 0 && !comparison->any_row_under_start_paths())
        run.std_err.printf(
            "\nCatalogue %s holds no path under the start path: it lists another "
            "tree, and no row of it is compared\n",
            name.c_str());
    comparison->lines_skipped = (file ? file->reader().lines_skipped() : 0) + duplicates;
    comparison->first_skipped_line = file ? file->reader().first_skipped_line() : 0;
    run.comparison = std::move(comparison);
}

std::uint64_t write_removed_rows(Run& run) {
    auto* comparison = dynamic_cast<CatalogueComparison*>(run.comparison.get());
    if (!comparison) return 0;
    OutStream& out = run.output();
    const RunSettings& s = run.s;
    const char d = s.delimiter;
    const ColumnList columns(s);
    return comparison->take_removed([&](const EarlierEntry& earlier) {
        const EarlierEntry* e = &earlier;
        // A --NUL listing names what is there; the removed are counted only.
        if (s.NUL) return;
        out.begin_record();
        if (s.table_format || run.database) {
            TableRow row;
            row.text(Field::kind, e->kind);
            row.text(Field::change, change_name(ChangeClass::removed));
            row.name(Field::path, run.syntax, run.sys.wide(e->path));
            if (e->size) row.number(Field::size, *e->size);
            for (std::size_t i = 0; i < digest_count; ++i)
                if (!e->digests[i].empty()) row.text(digest_field(DigestId(i)), e->digests[i]);
            if (!e->modified.empty()) row.text(Field::modified, e->modified);
            if (!e->attributes.empty()) row.text(Field::attributes, e->attributes);
            if (!e->owner.empty()) row.text(Field::owner, e->owner);
            if (e->modified_ns) row.number(Field::modified_ns, *e->modified_ns);
            if (e->change_time_ns) row.number(Field::change_time_ns, *e->change_time_ns);
            if (e->device) row.number(Field::device, *e->device);
            if (e->inode) row.number(Field::inode, *e->inode);
            if (e->links) row.number(Field::links, *e->links);
            if (!e->target.empty()) row.text(Field::target, e->target);
            add_database_row(run, row);
            if (s.table_format) row.write(run, out);
        }
        if (!s.table_format) {
            // What the catalogue holds of the leading columns; the record
            // ends after them.
            for (const ColumnDescriptor* c : columns) {
                if (c->id == Column::change) {
                    out.put(change_letter(ChangeClass::removed));
                    out.put(d);
                } else if (c->id == Column::path) {
                    std::string path = e->path;
                    mask_controls(path);
                    if (s.VAR)
                        out.put(path);
                    else
                        put_fixed(out, path, s.WIDTH, s.WIDTH, Align::left, true);
                    out.put(d);
                } else if (c->id == Column::size) {
                    if (e->size)
                        write_size_column(out, *e->size, d, s.VAR != 0);
                    else
                        out.put(s.VAR ? std::string(1, d) : std::string(21, ' ') + d);
                } else if (c->id == Column::attributes) {
                    out.put(e->attributes.size() == 6 ? e->attributes : std::string("......"));
                    out.put('.');
                    out.put(d);
                    break;
                }
            }
            out.put('\n');
        }
        out.end_record();
        check_output_written(run);
    });
}

void write_comparison_counts(const Run& run, OutStream& out, bool console) {
    const auto* c = dynamic_cast<const CatalogueComparison*>(run.comparison.get());
    if (!c) return;
    const auto n = [c](ChangeClass k) { return static_cast<unsigned long long>(c->count(k)); };
    out.printf(console ? "\n  Compared with %s: %llu added, %llu removed, %llu moved, %llu "
                         "changed, %llu unchanged"
                       : "  Compared with %s: %llu added, %llu removed, %llu moved, %llu "
                         "changed, %llu unchanged\n",
               c->name.c_str(), n(ChangeClass::added), n(ChangeClass::removed),
               n(ChangeClass::moved), n(ChangeClass::changed), n(ChangeClass::unchanged));
    write_lines_passed_over(out, c->name, c->lines_skipped, c->first_skipped_line, console);
}

}  // namespace filarix
