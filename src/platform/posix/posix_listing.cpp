// The walk's reading of a directory: its names read once, each entry
// examined relative to the directory (a large directory by two threads),
// the DOSATTRIB bits asked where the rule says so, sorted by name_less.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/posix/posix_directory.hpp"

namespace platform::posix {
namespace {

void append_entry(Listing& dir, std::string_view bytes, Listed e) {
    e.bytes_at = static_cast<std::uint32_t>(dir.bytes.size());
    e.bytes_size = static_cast<std::uint32_t>(bytes.size());
    dir.bytes.append(bytes).push_back('\0');
    const std::size_t at = dir.names.size();
    // An ASCII name, as nearly every one is, is widened in place, with no
    // string of its own.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
        dir.names.append(bytes.begin(), bytes.end());
    else
        dir.names += from_bytes(bytes);
    e.name_at = static_cast<std::uint32_t>(at);
    e.name_size = static_cast<std::uint32_t>(dir.names.size() - at);
    dir.entries.push_back(e);
}

// The attributes of an entry from what is known of it.
void describe(const EntryFacts& facts, const char* name, Listed& e) {
    e.attributes = compute_attributes(facts, std::string_view(name), std::nullopt);
    e.dos_candidate = !S_ISLNK(facts.mode) && facts.mode != 0;
    e.regular = S_ISREG(facts.mode);
}

// Examines one entry relative to the directory, its status in `st` when
// it could be had; false when it has gone.
bool examine(int dirfd, const char* name, unsigned char type, Listed& e, struct statx& st) {
    if (::statx(dirfd, name, stat_flags, stat_mask, &st) == 0) {
        examine_status(dirfd, name, st, e);
        return true;
    }
    st.stx_mask = 0;
    if (errno == ENOENT) return false;  // gone since the directory was read
    // Listed but not examinable: what the directory itself told.
    EntryFacts facts;
    facts.mode = mode_of_type(type) | S_IWUSR;
    describe(facts, name, e);
    return true;
}

// Examines the entries [from, to) of a listing whose names are read; the
// regular files among them are read whole up to `contents_up_to` bytes.
void examine_range(Listing& dir, int dirfd, dev_t device, XattrSupport& xattrs, std::size_t from,
                   std::size_t to, std::size_t contents_up_to, const std::atomic<bool>* stop) {
    bool names = !xattrs.refused(device);
    ContentsArena arena;
    // Files are opened before they are examined while the last one met was small.
    bool small = true;
    for (std::size_t i = from; i < to; ++i) {
        if (stop && i % 1024 == 0 && stop->load(std::memory_order_relaxed)) return;
        Listed& e = dir.entries[i];
        const char* name = dir.system_name(e);
        if (contents_up_to != 0 && small && e.type == DT_REG) {
            const auto read =
                examine_opened(dirfd, name, device, contents_up_to, names, xattrs, arena, e);
            if (read == ListedRead::opened) {
                small = !e.regular || e.size <= contents_up_to;
                continue;
            }
            if (read == ListedRead::refused) contents_up_to = 0;
        }
        struct statx st;
        if (!examine(dirfd, name, e.type, e, st)) {
            e.gone = true;
            continue;
        }
        if (contents_up_to != 0 && e.regular && e.precise && e.size <= contents_up_to) {
            small = true;
            const auto read =
                read_listed(dirfd, name, st, device, contents_up_to, names, xattrs, arena, e);
            if (read == ListedRead::refused) contents_up_to = 0;
            if (read == ListedRead::opened) continue;
        }
        if (names && e.dos_candidate)
            names = read_attribute_names(dirfd, name, device, xattrs, e) && !xattrs.refused(device);
    }
}

}  // namespace

void examine_status(int dirfd, const char* name, const struct statx& st, Listed& e) {
    EntryFacts facts = facts_of(st);
    if (S_ISLNK(facts.mode)) facts.target_is_directory = target_is_directory(dirfd, name);
    take_status(st, facts.mode, e);
    describe(facts, name, e);
}

// A directory this large is examined by two threads, when the walk may use two.
constexpr std::size_t split_examining_from = 4096;

void read_listing(Listing& dir, int dirfd, dev_t device, bool mount_root, XattrSupport& xattrs,
                  bool two_threads, std::size_t contents_up_to, const std::atomic<bool>* stop) {
    if (!mount_root) {
        for (const char* dot : {".", ".."}) {
            Listed e;
            e.attributes = attr::directory;
            append_entry(dir, dot, e);
        }
    }
    const std::size_t dots = dir.entries.size();
    alignas(8) char buffer[32768];
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) return;
        const ssize_t n = ::getdents64(dirfd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (n == 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + off);
            off += d->d_reclen;
            const std::string_view bytes(d->d_name);
            if (bytes == "." || bytes == "..") continue;
            Listed e;
            e.type = d->d_type;
            append_entry(dir, bytes, e);
        }
    }
    const std::size_t end = dir.entries.size();
    // A directory of one file is not read ahead of its record: its file
    // would be read twice.
    if (std::count_if(dir.entries.begin() + static_cast<std::ptrdiff_t>(dots), dir.entries.end(),
                      [](const Listed& e) { return e.type == DT_REG; }) < 2)
        contents_up_to = 0;
    bool examined = false;
    if (two_threads && end - dots >= split_examining_from) {
        // The second half on a thread of its own: each examining is a
        // name look-up in a large directory, the bulk of the work.
        const std::size_t half = dots + (end - dots) / 2;
        XattrSupport helper_xattrs = xattrs;
        try {
            std::thread helper = thread_without_signals([&] {
                examine_range(dir, dirfd, device, helper_xattrs, half, end, contents_up_to, stop);
            });
            examine_range(dir, dirfd, device, xattrs, dots, half, contents_up_to, stop);
            helper.join();
            if (helper_xattrs.refused(device)) xattrs.mark_refused(device);
            examined = true;
        } catch (const std::system_error&) {
            // No thread to be had: one does it all.
        }
    }
    if (!examined) examine_range(dir, dirfd, device, xattrs, dots, end, contents_up_to, stop);
    if (stop && stop->load(std::memory_order_relaxed)) return;
    std::erase_if(dir.entries, [](const Listed& e) { return e.gone; });
    const bool names = !xattrs.refused(device);
    // The directory's own names, for the streams of the directory itself.
    if (names && dots > 0) read_attribute_names(dirfd, ".", device, xattrs, dir.entries[0]);
    if (xattrs.refused(device)) {
        // A file system without user attributes holds no streams at all.
        for (Listed& e : dir.entries) e.names_known = true;
    }
    std::optional<bool> by_rule;
    for (std::size_t i = dots; i < dir.entries.size(); ++i) {
        Listed& e = dir.entries[i];
        if (!e.dos_candidate || xattrs.refused(device)) continue;
        if (e.names_known
                ? !e.has_dos
                : !(by_rule ? *by_rule : *(by_rule = ask_for_dos(dirfd, dir, device, xattrs))))
            continue;
        const auto bits = dos_bits(dirfd, dir.system_name(e), device, xattrs);
        if (!bits) continue;
        const std::string_view name(dir.system_name(e));
        EntryFacts facts;
        facts.mode = (e.attributes & attr::directory) ? S_IFDIR : S_IFREG;
        e.attributes = compute_attributes(facts, name, bits);
    }
    std::sort(dir.entries.begin() + static_cast<std::ptrdiff_t>(dots), dir.entries.end(),
              [&dir](const Listed& a, const Listed& b) {
                  return name_less(dir.shown_name(a), dir.shown_name(b));
              });
    dir.readable = true;
}

}  // namespace platform::posix
