#include "catalogue/listing_reuse.hpp"

#include "catalogue/database.hpp"
#include "catalogue/earlier_catalogue.hpp"
#include "core/numbers.hpp"

namespace filarix {

bool ListingReuse::add(EarlierEntry entry) {
    // A stream or a ZIP member is read with its file; a directory or a
    // link has no digests to give.
    if (entry.kind != "file") return true;
    return rows_.add(std::move(entry));
}

std::optional<HeldDigests> ListingReuse::held_digests(std::string_view path, std::uint64_t size,
                                                      const platform::PreciseFacts& now) {
    const auto at = rows_.find(path);
    if (!at) return std::nullopt;
    EarlierEntry row = rows_.row(*at);
    // A row of an older listing lacks the facts that tell the same file:
    // it is never trusted.
    if (!row.size || !row.modified_ns || !row.change_time_ns || !row.device || !row.inode)
        return std::nullopt;
    if (static_cast<std::uint64_t>(*row.size) != size || *row.modified_ns != now.modified_ns ||
        *row.change_time_ns != now.change_time_ns || *row.device != now.device ||
        *row.inode != now.inode)
        return std::nullopt;
    return std::move(row.digests);
}

void ListingReuse::count_unread(std::uint64_t size) {
    ++files_unread_;
    bytes_unread_ += size;
}

void open_reuse_listing(Run& run) {
    if (run.s.reuse_name.empty()) return;
    const std::string name = run.sys.narrow(run.s.reuse_name);
    if (names_database(run.sys, run.s.reuse_name)) {
        auto reuse = std::make_unique<ListingReuse>();
        reuse->name = name;
        read_database_rows(run, run.s.reuse_name, "Can't reuse digests from",
                           [&](EarlierEntry&& entry) {
                               if (!reuse->add(std::move(entry))) ++reuse->lines_skipped;
                           });
        run.on_hand.listing = std::move(reuse);
        return;
    }
    CatalogueFile file(run.sys, run.s.reuse_name);
    const CatalogueFormat format = file.format();
    if (file.failed()) {
        run.std_out.printf("\nCannot find/open %s", name.c_str());
        end_run(exit_code::input_file);
    }
    if (format != CatalogueFormat::csv_listing && format != CatalogueFormat::jsonl_listing) {
        // Only a listing of this program tells, with each path, the facts
        // that show a file unchanged.
        if (format == CatalogueFormat::unknown)
            run.std_err.printf(
                "\nCan't reuse digests from %s: it is no CSV or JSON Lines listing of this "
                "program\n",
                name.c_str());
        else
            run.std_err.printf(
                "\nCan't reuse digests from %s: it is a %s, not a CSV or JSON Lines listing of "
                "this program\n",
                name.c_str(), catalogue_format_name(format));
        end_run(exit_code::input_file);
    }
    auto reuse = std::make_unique<ListingReuse>();
    reuse->name = name;
    std::uint64_t duplicates = 0;
    read_rows(file, [&](EarlierEntry& entry) {
        if (!reuse->add(std::move(entry))) ++duplicates;
    });
    if (file.failed()) {
        run.std_out.printf("\nCannot find/open %s", name.c_str());
        end_run(exit_code::input_file);
    }
    reuse->lines_skipped = file.reader().lines_skipped() + duplicates;
    reuse->first_skipped_line = file.reader().first_skipped_line();
    run.on_hand.listing = std::move(reuse);
}

void write_reuse_counts(const Run& run, OutStream& out, bool console) {
    const auto* r = dynamic_cast<const ListingReuse*>(run.on_hand.listing.get());
    if (!r) return;
    out.printf(console ? "\n  Digests reused from %s: %llu files (%s bytes not read)"
                       : "  Digests reused from %s: %llu files (%s bytes not read)\n",
               r->name.c_str(), static_cast<unsigned long long>(r->files_unread()),
               format_thousands64(static_cast<std::int64_t>(r->bytes_unread())).c_str());
    write_lines_passed_over(out, r->name, r->lines_skipped, r->first_skipped_line, console);
}

}  // namespace filarix
