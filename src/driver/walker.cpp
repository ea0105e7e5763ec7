#include "driver/walker.hpp"

#include <algorithm>

#include "content/digests.hpp"
#include "content/streams.hpp"
#include "core/listing_file.hpp"
#include "core/numbers.hpp"
#include "core/shown_text.hpp"
#include "driver/progress.hpp"
#include "driver/termination.hpp"
#include "record/process_entry.hpp"
#include "record/stream_lines.hpp"

namespace filarix {

namespace {

bool is_dot_entry(const std::u16string& name) {
    return name == u"." || name == u"..";
}

// Directory streams are listed only where the first start path's volume
// can carry them and the listing is real (not a counting pass).
bool streams_wanted(const Run& run) {
    // --DUPES lists files alone; --NUL names entries only.
    return run.layout.streams_volume && !run.sizing_pass && run.s.STREAM && !run.s.DUPES &&
           !run.s.NUL;
}

void list_directory_streams(Run& run, EntryTools& tools,
                            const std::u16string& path_without_separator, bool with_record) {
    const std::uint32_t count = enumerate_streams(run, path_without_separator);
    run.counts.streams_found += count;
    run.counts.directory_streams += count;
    if (count == 0) return;
    if (with_record) process_entry(run, tools, path_without_separator, nullptr);
    write_directory_stream_lines(run, tools.digests, count, path_without_separator);
    ++run.counts.stream_directories;
}

// A directory that is there and cannot be read is named as it is met and
// counted, so that a listing never passes for the whole tree.
void report_unreadable(Run& run, const std::u16string& directory) {
    ++run.counts.unreadable_directories;
    const std::string shown = shown_name(run.sys, run.syntax.without_long_prefix(directory));
    run.std_err.printf("\nDirectory not readable: %s\n", shown.c_str());
    if (run.log) run.log->printf("\nDIRECTORY NOT READABLE: |%s", shown.c_str());
}

// A --PRUNE glob names the directory by its name or by its path below the
// start path.
bool is_pruned(const Run& run, const std::u16string& parent, const std::u16string& name) {
    if (run.s.prune_list.empty()) return false;
    std::u16string_view relative(parent);
    relative.remove_prefix(std::min(run.start_path_length, relative.size()));
    std::u16string below(relative);
    below += name;
    for (const auto& glob : run.s.prune_list)
        if (run.syntax.glob_matches(glob, name) || run.syntax.glob_matches(glob, below))
            return true;
    return false;
}

// Under --ONEFS a directory on another file system than its start path's
// (a mount point below it) is listed with its parent's entries and not
// entered; the log names it as it names a reparse point.
bool stays_on_file_system(Run& run, platform::DirHandle& handle, const std::u16string& directory,
                          const platform::DirHandle* parent) {
    const auto here = run.sys.directory_file_system(handle, directory);
    if (!parent) {
        run.start_file_system = here;
        return true;
    }
    if (!here || !run.start_file_system || *here == *run.start_file_system) return true;
    if (run.s.ACCT && run.log && !run.sizing_pass)
        run.log->printf("\nOTHER FILE SYSTEM: |%s", shown_name(run.sys, directory).c_str());
    return false;
}

}  // namespace

bool is_excluded(const RunSettings& s, std::u16string_view name) {
    if (s.exclude_list.empty()) return false;
    const std::u16string upper = platform::ascii_upper(name);
    for (const auto& mask : s.exclude_list)
        if (platform::wildcard_match(mask, upper)) return true;
    return false;
}

void poll_user_abort(platform::System& sys) {
    if (sys.interrupted()) end_run(exit_code::user_aborted);
    if (sys.key_waiting()) {
        const int key = sys.read_key();
        if (key == 3 || key == 27) end_run(exit_code::user_aborted);
    }
}

namespace {

void walk_listed_level(Run& run, EntryTools& tools, std::u16string& directory,
                       platform::DirHandle* parent, const platform::FindData* listed);

// One level of the walk. `directory` is the walk's one path buffer: each
// level appends its name and takes it off again, because a path string per
// level would cost memory in the square of the depth. `listed` is the
// directory's entry as its parent's search delivered it (none for a start
// path).
void walk_level(Run& run, EntryTools& tools, std::u16string& directory, platform::DirHandle* parent,
                const platform::FindData* listed) {
    // The interrupt is honoured between directories too, not only between files.
    if (run.sys.interrupted()) end_run(exit_code::user_aborted);
    ++run.counts.walk_depth;
    if (run.s.levels != 0 && run.counts.walk_depth > run.s.levels - 1) {
        --run.counts.walk_depth;
        return;
    }
    // A directory at the last level is listed with its parent's entries and
    // not read.
    if (run.s.depth != 0 && run.counts.walk_depth > run.s.depth) {
        if (parent) run.sys.pass_by_subdirectory(*parent, listed->name);
        --run.counts.walk_depth;
        return;
    }
    // A reparse point below a start path (junction, symbolic link) is never
    // entered; a start path that is one was named by the user and is walked.
    if (listed && (listed->attributes & platform::attr::reparse_point)) {
        if (run.s.ACCT && run.log)
            run.log->printf("\nREPARSE FILE: |%s", shown_name(run.sys, directory).c_str());
        --run.counts.walk_depth;
        return;
    }
    const std::unique_ptr<platform::DirHandle> handle =
        parent ? run.sys.open_subdirectory(*parent, listed->name)
               : run.sys.open_directory(directory);
    if (handle && run.s.ONEFS && !stays_on_file_system(run, *handle, directory, parent)) {
        --run.counts.walk_depth;
        return;
    }
    platform::FindData entry;
    // Directory records take their data from this search.
    const auto detail = run.s.directories != 0 ? platform::SearchDetail::full
                                               : platform::SearchDetail::names_and_kinds;
    auto search =
        handle ? run.sys.search_directory(*handle, directory, u"*.*", entry, detail) : nullptr;
    if (!search) {
        if (!run.sizing_pass && run.sys.last_search_refused()) report_unreadable(run, directory);
        --run.counts.walk_depth;
        return;
    }
    if (streams_wanted(run) && entry.name == u".")
        list_directory_streams(run, tools, directory.substr(0, directory.size() - 1), false);

    if (!run.s.RECURSE) {
        if (!run.sizing_pass) ++run.counts.directories_counted;
    } else {
        bool more = true;
        while (more) {
            if ((entry.attributes & platform::attr::directory) && !is_dot_entry(entry.name)) {
                if (run.sys.interrupted()) end_run(exit_code::user_aborted);
                if (is_pruned(run, directory, entry.name)) {
                    if (!run.sizing_pass) ++run.counts.pruned_directories;
                    run.sys.pass_by_subdirectory(*handle, entry.name);
                    more = search->next(entry);
                    continue;
                }
                if (!run.sizing_pass) ++run.counts.directories_counted;
                const std::size_t own_length = directory.size();
                directory += entry.name;
                directory += run.syntax.separator;
                walk_listed_level(run, tools, directory, handle.get(), &entry);
                directory.resize(own_length);
            }
            more = search->next(entry);
        }
    }
    search.reset();

    std::size_t progress = 0;
    // --PROGRESS draws its own line, and only on a terminal.
    const bool directory_line = run.s.output_to_file() && !run.s.precount;
    if (directory_line) {
        const std::u16string_view shown = run.syntax.without_long_prefix(directory);
        const std::size_t cut =
            static_cast<std::size_t>(std::max(run.layout.progress_width - 10, 0));
        const std::string text = shown_name(run.sys, shown.substr(0, cut));
        const std::string count = format_thousands(run.counts.files_found);
        progress =
            static_cast<std::size_t>(run.std_err.printf("\r %12s %s", count.c_str(), text.c_str()));
        if (run.std_err.is_terminal()) run.std_err.flush();
    }
    list_directory_files(run, tools, *handle, directory);
    --run.counts.walk_depth;
    if (directory_line && progress > 0) {
        run.std_err.repeat('\b', progress);
        run.std_err.repeat(' ', progress);
        run.std_err.repeat('\b', progress);
        if (run.std_err.is_terminal()) run.std_err.flush();
    }
}

// The closing line of a directory's subtree in a text listing, in one
// form whatever the record's columns, so that it is found by its start.
void write_tree_line(Run& run, const std::u16string& directory, const TreeCount& tree) {
    std::u16string_view path = run.syntax.without_long_prefix(directory);
    if (path.size() > 1 && run.syntax.is_separator(path.back())) path.remove_suffix(1);
    const std::string files = format_thousands(static_cast<std::int64_t>(tree.files));
    const std::string bytes = format_thousands(static_cast<std::int64_t>(tree.bytes));
    const std::string shown = shown_name(run.sys, path);
    OutStream& out = run.output();
    out.begin_record();
    out.printf("Tree totals: %s files, %s bytes: %s\n", files.c_str(), bytes.c_str(),
               shown.c_str());
    out.end_record();
    check_output_written(run);
}

// A directory with its record, when directories are listed. Under
// --TREESIZE a CSV or JSON row waits for the subtree, whose totals it
// holds, while a text record keeps its place and a closing line follows
// the subtree. A start path (no `listed`) has a row only then.
void walk_listed_level(Run& run, EntryTools& tools, std::u16string& directory,
                       platform::DirHandle* parent, const platform::FindData* listed) {
    const bool listing = run.s.directories != 0;
    const bool reparse = listed && (listed->attributes & platform::attr::reparse_point);
    const bool totals =
        listing && run.s.TREESIZE && !run.s.DUPES && !run.sizing_pass && !reparse && !run.s.NUL;
    const bool row_after = totals && run.s.table_format != table_none;
    const bool written =
        listing && listed && !row_after && process_entry(run, tools, directory, nullptr, listed);
    if (!totals) {
        walk_level(run, tools, directory, parent, listed);
        return;
    }
    const TreeCount before = run.tree_totals.so_far();
    walk_level(run, tools, directory, parent, listed);
    const TreeCount tree = run.tree_totals.so_far() - before;
    if (row_after)
        process_entry(run, tools, directory, nullptr, listed, &tree);
    else if (written || !listed)
        write_tree_line(run, directory, tree);
}

// Whether the walk may read the small files of a directory as it lists
// it: every regular file listed is read anyway (a run that reads its
// digests ahead), and the walk's names alone pick the files (one mask
// that takes every name, nothing excluded, no duplicates to sort first).
bool small_files_read_when_listed(Run& run, EntryTools& tools) {
    if (!tools.digests.reads_ahead(run.sys) || digests_read_ahead(run).empty()) return false;
    if (run.s.EXCLUDE || run.s.DUPES) return false;
    const auto& masks = run.s.filetype_list;
    return masks.size() == 1 && (masks.front() == u"*.*" || masks.front() == u"*");
}

}  // namespace

void walk_directory(Run& run, EntryTools& tools, const std::u16string& directory) {
    run.sys.read_small_files_when_listed(
        small_files_read_when_listed(run, tools) ? DigestEngine::small_file_size : 0);
    std::u16string path = directory;
    walk_listed_level(run, tools, path, nullptr, nullptr);
    run.sys.read_small_files_when_listed(0);
}

// Files of a directory read ahead at once: enough to keep both cores busy
// on small files, and to fill the digests' lanes twice over (their
// descriptors are opened only as each file is read).
constexpr std::size_t ahead_batch = 32;
// Above this a file's own read spreads its digests over both cores.
constexpr std::uint64_t large_alone = 4 * 1024 * 1024;

void list_directory_files(Run& run, EntryTools& tools, platform::DirHandle& handle,
                          const std::u16string& directory) {
    for (const auto& mask : run.s.filetype_list) {
        if (!mask.empty() && mask.front() == u'-') break;
        platform::FindData entry;
        // The record is written from this entry, so it must be complete.
        auto search =
            run.sys.search_directory(handle, directory, mask, entry, platform::SearchDetail::full);
        if (!search) continue;
        const auto list = [&](const platform::FindData& found) {
            poll_user_abort(run.sys);
            const bool is_directory = (found.attributes & platform::attr::directory) != 0;
            if (is_directory) {
                if (streams_wanted(run) && !run.s.RECURSE && !is_dot_entry(found.name))
                    list_directory_streams(run, tools, directory + found.name, true);
            } else if (!run.s.EXCLUDE || !is_excluded(run.s, found.name)) {
                process_entry(run, tools, directory, &found.name, &found);
            }
            draw_overall_progress(run.sys, run, run.std_err);
        };
        const DigestSet ahead =
            tools.digests.reads_ahead(run.sys) ? digests_read_ahead(run) : DigestSet{};
        bool more = true;
        if (ahead.empty()) {
            while (more) {
                list(entry);
                more = search->next(entry);
            }
            continue;
        }
        // The next files are read and hashed two at a time while their
        // records are written in turn. A batch is queued before the
        // records of the one ahead of it are written, so the hashing
        // thread always has the next files at hand.
        // Kept from directory to directory, so that the entries' names
        // find their buffers there (one walk at a time per thread).
        static thread_local std::vector<platform::FindData> batch;
        static thread_local std::vector<platform::FindData> next_batch;
        static thread_local std::vector<AheadFile> files;
        // Fills `into` with the next entries, returns how many (the slots after
        // them keep their buffers for later).
        const auto fill = [&](std::vector<platform::FindData>& into) {
            files.clear();
            std::size_t count = 0;
            while (more && count < ahead_batch) {
                const bool listed = !entry.link &&
                                    (entry.attributes & platform::attr::directory) == 0 &&
                                    (!run.s.EXCLUDE || !is_excluded(run.s, entry.name));
                if (listed) files.push_back({directory + entry.name, ahead, entry.size});
                // Swapped, not copied: the search fills the names of the
                // entry the batch had before, without allocating them anew.
                if (count == into.size()) into.emplace_back();
                std::swap(into[count++], entry);
                more = search->next(entry);
            }
            // A file larger than all the others of its batch together would
            // keep one core busy while the other finished the small ones: it
            // is hashed on both cores by its own read, as one file alone is.
            std::uint64_t total = 0;
            for (const AheadFile& f : files) total += f.listed_size;
            const auto largest = std::max_element(
                files.begin(), files.end(),
                [](const auto& a, const auto& b) { return a.listed_size < b.listed_size; });
            if (largest != files.end() && largest->listed_size > large_alone &&
                largest->listed_size > total - largest->listed_size)
                files.erase(largest);
            if (files.size() < 2) files.clear();
            if (!files.empty()) tools.digests.read_ahead(run, std::move(files));
            return count;
        };
        std::size_t count = fill(batch);
        while (count != 0) {
            const std::size_t next_count = fill(next_batch);
            for (std::size_t i = 0; i < count; ++i) list(batch[i]);
            std::swap(batch, next_batch);
            count = next_count;
        }
        // What no record took is closed with its directory.
        tools.digests.read_ahead(run, {});
    }
}

}  // namespace filarix
