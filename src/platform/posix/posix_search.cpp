// Directory searches: a directory is read whole when the search starts,
// "." and ".." first (none at the root of a mount), the other names in
// name_less order, every name filtered through the Windows mask rules.
// A walk goes from directory handle to directory handle: each directory is
// opened relative to its parent without following a link, read and
// examined once, and its masks are answered from what was read.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

struct Entry {
    std::u16string name;
    std::string bytes;
    unsigned char type = DT_UNKNOWN;
    bool dot = false;  // "." or ".."
};

// A directory that could not be opened is there and refuses to be read,
// unless it has gone or was replaced by something that is not a
// directory of its own (a file, a link).
bool refusal(int error) {
    return error != ENOENT && error != ENOTDIR && error != ELOOP;
}

constexpr int stat_flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
constexpr unsigned stat_mask = STATX_BASIC_STATS | STATX_BTIME;

bool target_is_directory(int dirfd, const char* name) {
    struct stat st;
    return ::fstatat(dirfd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// Fills every field from a status record. `xattr_path` names the entry for
// the DOSATTRIB look-up (not done for links, which cannot carry one).
void fill_full(const struct statx& st, int dirfd, const char* at_name,
               const std::string& xattr_path, std::string_view hidden_name, XattrSupport& xattrs,
               FindData& out) {
    EntryFacts facts;
    facts.mode = st.stx_mode;
    facts.encrypted = (st.stx_attributes_mask & STATX_ATTR_ENCRYPTED) != 0 &&
                      (st.stx_attributes & STATX_ATTR_ENCRYPTED) != 0;
    std::optional<std::uint32_t> dos;
    if (S_ISLNK(facts.mode)) {
        facts.target_is_directory = target_is_directory(dirfd, at_name);
    } else {
        dos = read_dos_attributes(xattr_path, makedev(st.stx_dev_major, st.stx_dev_minor), xattrs,
                                  dirfd, at_name);
    }
    out.attributes = compute_attributes(facts, hidden_name, dos);
    out.link = S_ISLNK(facts.mode);
    out.size = (S_ISDIR(facts.mode) || S_ISLNK(facts.mode)) ? 0 : st.stx_size;
    out.creation =
        (st.stx_mask & STATX_BTIME) ? ticks_from(st.stx_btime.tv_sec, st.stx_btime.tv_nsec) : 0;
    out.access = ticks_from(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    out.write = ticks_from(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
}

mode_t mode_of_type(unsigned char type) {
    switch (type) {
        case DT_DIR:
            return S_IFDIR;
        case DT_REG:
            return S_IFREG;
        case DT_LNK:
            return S_IFLNK;
        case DT_FIFO:
            return S_IFIFO;
        case DT_SOCK:
            return S_IFSOCK;
        case DT_CHR:
            return S_IFCHR;
        case DT_BLK:
            return S_IFBLK;
        default:
            return 0;
    }
}

class PosixSearch final : public DirSearch {
public:
    PosixSearch(int dirfd, std::string dir, std::vector<Entry> entries, SearchDetail detail,
                XattrSupport& xattrs)
        : dirfd_(dirfd),
          dir_(std::move(dir)),
          entries_(std::move(entries)),
          detail_(detail),
          xattrs_(xattrs) {}
    ~PosixSearch() override {
        if (dirfd_ >= 0) ::close(dirfd_);
    }
    PosixSearch(const PosixSearch&) = delete;
    PosixSearch& operator=(const PosixSearch&) = delete;

    bool next(FindData& entry) override {
        while (next_ < entries_.size()) {
            const Entry& e = entries_[next_++];
            if (fill(e, entry)) return true;
        }
        // Everything is delivered: give the descriptor back early.
        if (dirfd_ >= 0) ::close(dirfd_);
        dirfd_ = -1;
        return false;
    }

private:
    bool fill(const Entry& e, FindData& out) {
        out = FindData{};
        out.name = e.name;
        const std::string_view hidden_name = e.dot ? std::string_view{} : e.bytes;
        const char* at = e.bytes.c_str();
        if (detail_ == SearchDetail::full) {
            struct statx st;
            if (::statx(dirfd_, at, stat_flags, stat_mask, &st) == 0) {
                fill_full(st, dirfd_, at, join_path(dir_, e.bytes), hidden_name, xattrs_, out);
                return true;
            }
            if (errno == ENOENT) return false;  // gone since the directory was read
            // Listed but not examinable (a directory without search
            // permission): deliver what the directory itself told.
            EntryFacts facts;
            facts.mode = mode_of_type(e.type) | S_IWUSR;
            out.attributes = compute_attributes(facts, hidden_name, std::nullopt);
            out.link = S_ISLNK(facts.mode);
            return true;
        }
        EntryFacts facts;
        facts.mode = mode_of_type(e.type) | S_IWUSR;
        if (e.type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(dirfd_, at, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                facts.mode = st.st_mode;
            } else if (errno == ENOENT) {
                return false;
            }
        }
        if (S_ISLNK(facts.mode)) facts.target_is_directory = target_is_directory(dirfd_, at);
        out.attributes = compute_attributes(facts, hidden_name, std::nullopt);
        out.link = S_ISLNK(facts.mode);
        return true;
    }

    int dirfd_;
    std::string dir_;
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
    SearchDetail detail_;
    XattrSupport& xattrs_;
};

// The search of a plain path: one entry, already delivered.
class SingleSearch final : public DirSearch {
public:
    bool next(FindData&) override { return false; }
};

// The root of a mount has no "." and ".." entries in a Windows listing.
bool is_mount_root(int dirfd, std::string_view dir) {
    if (dir == "/") return true;
    struct stat self, parent;
    if (::fstat(dirfd, &self) != 0 || ::fstatat(dirfd, "..", &parent, 0) != 0) return false;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

// Reads the names of a directory that pass the mask.
bool read_names(int dirfd, std::u16string_view mask, std::vector<Entry>& out) {
    alignas(8) char buffer[32768];
    for (;;) {
        const ssize_t n = ::getdents64(dirfd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        for (ssize_t off = 0; off < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + off);
            off += d->d_reclen;
            const std::string_view bytes(d->d_name);
            if (bytes == "." || bytes == "..") continue;
            std::u16string name = from_bytes(bytes);
            if (!mask_matches(mask, name)) continue;
            out.push_back(Entry{std::move(name), std::string(bytes), d->d_type, false});
        }
    }
}

}  // namespace

std::unique_ptr<DirSearch> PosixSystem::find_first(std::u16string_view pattern, FindData& first,
                                                   SearchDetail detail) {
    search_refused_ = false;
    const auto slash16 = pattern.rfind(u'/');
    const std::u16string_view mask =
        slash16 == std::u16string_view::npos ? pattern : pattern.substr(slash16 + 1);

    if (!has_wildcards(mask)) {
        const std::string path = strip_trailing_separators(to_bytes(pattern));
        const std::string_view name = last_component(path);
        if (name.empty()) return nullptr;
        struct statx st;
        if (::statx(AT_FDCWD, path.c_str(), stat_flags, stat_mask, &st) != 0) return nullptr;
        first = FindData{};
        first.name = from_bytes(name);
        const bool dot = name == "." || name == "..";
        fill_full(st, AT_FDCWD, path.c_str(), path, dot ? std::string_view{} : name, xattrs_,
                  first);
        return std::make_unique<SingleSearch>();
    }

    std::string dir;
    if (slash16 != std::u16string_view::npos)
        dir = slash16 == 0 ? std::string("/") : to_bytes(pattern.substr(0, slash16));
    const int dirfd =
        ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (dirfd < 0) {
        search_refused_ = refusal(errno);
        return nullptr;
    }

    std::vector<Entry> entries;
    if (!is_mount_root(dirfd, dir)) {
        for (const char* dot : {".", ".."}) {
            std::u16string name = from_bytes(dot);
            if (mask_matches(mask, name))
                entries.push_back(Entry{std::move(name), dot, DT_DIR, true});
        }
    }
    const std::size_t dots = entries.size();
    if (!read_names(dirfd, mask, entries)) {
        ::close(dirfd);
        search_refused_ = true;
        return nullptr;
    }
    std::sort(entries.begin() + static_cast<std::ptrdiff_t>(dots), entries.end(),
              [](const Entry& a, const Entry& b) { return name_less(a.name, b.name); });

    auto search =
        std::make_unique<PosixSearch>(dirfd, std::move(dir), std::move(entries), detail, xattrs_);
    if (!search->next(first)) return nullptr;
    return search;
}

// ----- the walk -----

constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// One entry of a directory as the walk read it; the names live in the
// listing's two arenas, so that a directory of many entries costs little
// more than its names.
struct Listed {
    std::uint32_t bytes_at = 0, bytes_size = 0;  // the name as the system has it
    std::uint32_t name_at = 0, name_size = 0;    // the name as the program shows it
    std::uint32_t attributes = 0;
    bool dos_candidate = false;  // may carry user.DOSATTRIB (not a link)
    bool regular = false;
    bool names_known = false;         // its attribute names were read whole
    bool has_streams = false;         // user attributes other than DOSATTRIB
    bool has_dos = false;             // user.DOSATTRIB among them
    bool gone = false;                // vanished between the reading of names and the examining
    unsigned char type = DT_UNKNOWN;  // as the directory told it
    std::uint64_t size = 0;
    FileTicks creation = 0, access = 0, write = 0;
};

// What a directory holds, read once, by the walk or by the reader ahead.
struct Listing {
    std::u16string_view shown_name(const Listed& e) const {
        return std::u16string_view(names).substr(e.name_at, e.name_size);
    }
    const char* system_name(const Listed& e) const { return bytes.c_str() + e.bytes_at; }

    std::vector<Listed> entries;
    std::string bytes;  // '\0'-separated
    std::u16string names;
    bool readable = false;
};

class WalkDir final : public DirHandle {
public:
    WalkDir(WalkDirs& owner, WalkDir* parent, std::string name, const struct stat& st, int fd)
        : owner(owner),
          parent(parent),
          name(std::move(name)),
          device(st.st_dev),
          inode(st.st_ino),
          fd(fd) {}
    ~WalkDir() override { owner.closing(*this); }
    WalkDir(const WalkDir&) = delete;
    WalkDir& operator=(const WalkDir&) = delete;

    WalkDirs& owner;
    WalkDir* const parent;
    const std::string name;  // within the parent; the whole path for a start directory
    const dev_t device;
    const ino_t inode;
    int fd;
    bool mount_root = false;
    bool read = false;
    bool planned = false;       // what its subdirectories need was settled
    bool reads_queued = false;  // the reader ahead holds reads of its subdirectories
    Listing listing;
};

namespace {

bool same_directory(int fd, const WalkDir& dir) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_dev == dir.device && st.st_ino == dir.inode;
}

// A search over what a walk directory holds, through one mask.
class ListedSearch final : public DirSearch {
public:
    ListedSearch(const WalkDir& dir, std::u16string_view mask) : dir_(dir), mask_(mask) {
        every_ = mask_ == u"*" || mask_ == u"*.*";
    }
    bool next(FindData& out) override {
        const Listing& l = dir_.listing;
        while (next_ < l.entries.size()) {
            const Listed& e = l.entries[next_++];
            const std::u16string_view name = l.shown_name(e);
            if (!every_ && !mask_matches(mask_, name)) continue;
            out.attributes = e.attributes;
            // Only a symbolic link is a reparse point here.
            out.link = (e.attributes & attr::reparse_point) != 0;
            out.size = e.size;
            out.creation = e.creation;
            out.access = e.access;
            out.write = e.write;
            out.name.assign(name);
            out.short_name.clear();
            dir_.owner.delivered(dir_, next_ - 1);
            return true;
        }
        return false;
    }

private:
    const WalkDir& dir_;
    std::u16string mask_;
    bool every_ = false;
    std::size_t next_ = 0;
};

void append_entry(Listing& dir, std::string_view bytes, Listed e) {
    const std::u16string name = from_bytes(bytes);
    e.bytes_at = static_cast<std::uint32_t>(dir.bytes.size());
    e.bytes_size = static_cast<std::uint32_t>(bytes.size());
    dir.bytes.append(bytes).push_back('\0');
    e.name_at = static_cast<std::uint32_t>(dir.names.size());
    e.name_size = static_cast<std::uint32_t>(name.size());
    dir.names += name;
    dir.entries.push_back(e);
}

// Examines one entry relative to the directory; false when it has gone.
bool examine(int dirfd, const char* name, unsigned char type, Listed& e) {
    struct statx st;
    EntryFacts facts;
    std::string_view hidden_name(name);
    if (::statx(dirfd, name, stat_flags, stat_mask, &st) == 0) {
        facts.mode = st.stx_mode;
        facts.encrypted = (st.stx_attributes_mask & STATX_ATTR_ENCRYPTED) != 0 &&
                          (st.stx_attributes & STATX_ATTR_ENCRYPTED) != 0;
        if (S_ISLNK(facts.mode)) facts.target_is_directory = target_is_directory(dirfd, name);
        e.size = (S_ISDIR(facts.mode) || S_ISLNK(facts.mode)) ? 0 : st.stx_size;
        e.creation =
            (st.stx_mask & STATX_BTIME) ? ticks_from(st.stx_btime.tv_sec, st.stx_btime.tv_nsec) : 0;
        e.access = ticks_from(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
        e.write = ticks_from(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    } else if (errno == ENOENT) {
        return false;  // gone since the directory was read
    } else {
        // Listed but not examinable: what the directory itself told.
        facts.mode = mode_of_type(type) | S_IWUSR;
    }
    e.attributes = compute_attributes(facts, hidden_name, std::nullopt);
    e.dos_candidate = !S_ISLNK(facts.mode) && facts.mode != 0;
    e.regular = S_ISREG(facts.mode);
    return true;
}

// listxattrat(2), called directly: the C library does not wrap it yet.
#if defined(__x86_64__) || defined(__aarch64__)
constexpr long listxattrat_number = 465;
#else
constexpr long listxattrat_number = -1;
#endif

// Reads the names of the entry's extended attributes relative to the
// directory, so that the entry's named streams and its DOSATTRIB are known
// without a look-up by path. Nothing is recorded when the list cannot be
// read whole (the look-ups by path then answer); false when the system
// has no such call.
bool read_attribute_names(int dirfd, const char* name, dev_t device, XattrSupport& xattrs,
                          Listed& e) {
    if (listxattrat_number < 0) return false;
    alignas(8) char list[4096];
    const long n =
        ::syscall(listxattrat_number, dirfd, name, AT_SYMLINK_NOFOLLOW, list, sizeof list);
    if (n < 0) {
        if (errno == ENOSYS) return false;
        if (errno == ENOTSUP) xattrs.mark_refused(device);
        return true;
    }
    e.names_known = true;
    for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
        const std::string_view key(list + at);
        at += key.size() + 1;
        if (key == dos_attribute_xattr)
            e.has_dos = true;
        else if (key.substr(0, 5) == "user.")
            e.has_streams = true;
    }
    return true;
}

// The entry's user.DOSATTRIB, asked relative to the directory; the path
// through the descriptor is the fallback, as short as the name however
// deep the walk.
std::optional<std::uint32_t> dos_bits(int dirfd, const char* name, dev_t device,
                                      XattrSupport& xattrs) {
    const std::string via_fd = "/proc/self/fd/" + std::to_string(dirfd) + "/" + name;
    return read_dos_attributes(via_fd, device, xattrs, dirfd, name);
}

// Whether the files of a directory whose attribute names could not be
// read are asked for user.DOSATTRIB. Asking costs a system call per file
// and almost every tree has none, so the rule is: a file system is asked
// file by file once any directory on it, or the first regular file of any
// directory, has been seen holding one (Samba writes it on every file and
// directory it creates, so a Samba tree is recognised at its first
// directory). Until then each directory costs two look-ups, not one per
// file. Where the names were read (kernels with listxattrat), exactly the
// entries that hold one are asked.
bool ask_for_dos(int dirfd, const Listing& dir, dev_t device, XattrSupport& xattrs) {
    if (xattrs.refused(device)) return false;
    if (xattrs.holds_dos(device)) return true;
    char buffer[256];
    const ssize_t n = ::fgetxattr(dirfd, dos_attribute_xattr, buffer, sizeof buffer);
    if (n >= 0 || errno == ERANGE) {
        xattrs.mark_holds_dos(device);
        return true;
    }
    if (errno == ENOTSUP) {
        xattrs.mark_refused(device);
        return false;
    }
    for (const Listed& e : dir.entries) {
        if (!e.regular) continue;
        if (dos_bits(dirfd, dir.system_name(e), device, xattrs)) {
            xattrs.mark_holds_dos(device);
            return true;
        }
        break;
    }
    return false;
}

// A thread that leaves the interrupt to the walk: it blocks every signal.
template <class F>
std::thread thread_without_signals(F&& body) {
    sigset_t all, before;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    struct Restore {
        sigset_t* mask;
        ~Restore() { ::pthread_sigmask(SIG_SETMASK, mask, nullptr); }
    } restore{&before};
    return std::thread(std::forward<F>(body));
}

// Examines the entries [from, to) of a listing whose names are read.
void examine_range(Listing& dir, int dirfd, dev_t device, XattrSupport& xattrs, std::size_t from,
                   std::size_t to, const std::atomic<bool>* stop) {
    bool names = !xattrs.refused(device);
    for (std::size_t i = from; i < to; ++i) {
        if (stop && i % 1024 == 0 && stop->load(std::memory_order_relaxed)) return;
        Listed& e = dir.entries[i];
        const char* name = dir.system_name(e);
        if (!examine(dirfd, name, e.type, e)) {
            e.gone = true;
            continue;
        }
        if (names && e.dos_candidate)
            names = read_attribute_names(dirfd, name, device, xattrs, e) && !xattrs.refused(device);
    }
}

// A directory this large is examined by two threads, when the walk may use two.
constexpr std::size_t split_examining_from = 4096;

// Reads and examines a directory once. `stop` cuts a long read short when
// the run is ending; the listing is then unreadable.
void read_listing(Listing& dir, int dirfd, dev_t device, bool mount_root, XattrSupport& xattrs,
                  bool two_threads, const std::atomic<bool>* stop = nullptr) {
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
    bool examined = false;
    if (two_threads && end - dots >= split_examining_from) {
        // The second half on a thread of its own: each examining is a
        // name look-up in a large directory, the bulk of the work.
        const std::size_t half = dots + (end - dots) / 2;
        XattrSupport helper_xattrs = xattrs;
        try {
            std::thread helper = thread_without_signals(
                [&] { examine_range(dir, dirfd, device, helper_xattrs, half, end, stop); });
            examine_range(dir, dirfd, device, xattrs, dots, half, stop);
            helper.join();
            if (helper_xattrs.refused(device)) xattrs.mark_refused(device);
            examined = true;
        } catch (const std::system_error&) {
            // No thread to be had: one does it all.
        }
    }
    if (!examined) examine_range(dir, dirfd, device, xattrs, dots, end, stop);
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

std::size_t descriptor_budget() {
    struct rlimit limit;
    rlim_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        soft = limit.rlim_cur;
    // An eighth of what the process may hold, the rest left to the
    // listing, the log and the file being read.
    return std::clamp<std::size_t>(static_cast<std::size_t>(soft / 8), 2, 64);
}

// A descriptor shared by the reads planned in one directory.
struct SharedFd {
    explicit SharedFd(int fd) : fd(fd) {}
    ~SharedFd() { ::close(fd); }
    SharedFd(const SharedFd&) = delete;
    SharedFd& operator=(const SharedFd&) = delete;
    const int fd;
};

// One subdirectory to be read ahead of the walk.
struct AheadRead {
    enum class State { waiting, working, done };
    // Who planned it: a walk directory, or a read ahead (by its serial
    // number) until the walk takes that read and its directory adopts it.
    const WalkDir* parent = nullptr;
    std::uint64_t parent_serial = 0;
    std::uint64_t serial = 0;
    std::shared_ptr<SharedFd> parent_fd;
    dev_t parent_device = 0;
    std::string name;
    State state = State::waiting;
    bool abandoned = false;         // no longer wanted while it was being read
    bool planned_children = false;  // its subdirectories are queued behind it
    // What the read found: the subdirectory's own descriptor (or -1 when
    // it could not be opened, with the reason in `error`) and its listing.
    int fd = -1;
    int error = 0;
    struct stat st {};
    Listing listing;
};

// Reading ahead pays when the walk has work of its own meanwhile: several
// subdirectories to go through, or many entries to list before it goes
// down. A chain of small directories is read by the walk itself: handing
// each one over and back costs more than reading it.
constexpr std::size_t read_ahead_from_entries = 16;
bool worth_reading_ahead(const Listing& l, std::size_t subdirectories) {
    return subdirectories > 1 ||
           (subdirectories == 1 && l.entries.size() >= read_ahead_from_entries);
}

// The subdirectories of a listing the walk will enter, in order.
std::vector<std::string> subdirectories(const Listing& l, std::size_t most) {
    std::vector<std::string> names;
    for (const Listed& e : l.entries) {
        if ((e.attributes & attr::directory) == 0 || (e.attributes & attr::reparse_point)) continue;
        const std::string_view name(l.system_name(e), e.bytes_size);
        if (name == "." || name == "..") continue;
        if (names.size() == most) break;
        names.emplace_back(name);
    }
    return names;
}

}  // namespace

// Reads the walk's next directories on a second thread while the walk
// formats and writes what it has, so that the system's work on metadata
// and the program's work on records overlap. The walk visits
// subdirectories in order, depth first: a directory's subdirectories are
// queued right behind it, in front of what was queued before, so the
// queue's head is always the walk's next directory, and the reader goes on
// down the tree without waiting for the walk. The walk takes a read that
// is done, reads another one while one it needs is under way, and reads a
// waiting one itself; what it prints never depends on which thread read a
// directory. Descriptors and memory are bounded: few reads are held done
// at once, few directories lend a descriptor, and a directory plans a
// bounded number of reads.
class WalkAhead {
public:
    // The interrupt is the walk's to notice: the reader blocks it.
    WalkAhead() : worker_(thread_without_signals([this] { work(); })) {}
    ~WalkAhead() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            stopping_ = true;
        }
        wake_worker_.notify_all();
        worker_.join();
        for (auto& read : reads_)
            if (read->fd >= 0) ::close(read->fd);
    }
    WalkAhead(const WalkAhead&) = delete;
    WalkAhead& operator=(const WalkAhead&) = delete;

    // Queues the subdirectories of `dir`, read through a copy of `fd`;
    // whether any was queued.
    bool plan(const WalkDir& dir, int fd) {
        std::vector<std::string> names = subdirectories(dir.listing, max_planned_per_directory);
        if (!worth_reading_ahead(dir.listing, names.size())) return false;
        const std::lock_guard lock(mutex_);
        const std::size_t before = reads_.size();
        queue(names, fd, dir.device, &dir, 0, 0);
        return reads_.size() != before;
    }

    // The read of `name` in `parent`, when one is done or under way.
    std::unique_ptr<AheadRead> take(const WalkDir& parent, const std::string& name) {
        std::unique_lock lock(mutex_);
        for (;;) {
            const auto at = std::find_if(reads_.begin(), reads_.end(), [&](const auto& r) {
                return !r->abandoned && r->parent == &parent && r->name == name;
            });
            if (at == reads_.end()) return nullptr;
            if ((*at)->state == AheadRead::State::working) {
                // Rather than wait, read one of the next directories too.
                if (AheadRead* other = next_waiting())
                    perform(*other, lock, helper_xattrs_);
                else
                    read_done_.wait(lock);
                continue;
            }
            std::unique_ptr<AheadRead> read = std::move(*at);
            reads_.erase(at);
            if (read->state == AheadRead::State::done) let_go(*read);
            read->parent_fd.reset();
            release_lenders();
            // The reader is woken once half its room is free, not at every
            // directory: a wake-up costs more than a small directory's read.
            if (held_ <= max_held / 2 && next_waiting()) wake_worker_.notify_one();
            if (read->state != AheadRead::State::done) return nullptr;
            return read;
        }
    }

    // The walk made `dir` of a read it took: what that read planned is
    // now the directory's.
    void adopt(const AheadRead& read, const WalkDir& dir) {
        if (!read.planned_children) return;
        const std::lock_guard lock(mutex_);
        for (auto& r : reads_)
            if (!r->parent && r->parent_serial == read.serial) r->parent = &dir;
    }

    // `dir` ends: what was planned in it is no longer wanted.
    void forget(const WalkDir& dir) {
        const std::lock_guard lock(mutex_);
        drop([&dir](const AheadRead& r) { return r.parent == &dir; });
        release_lenders();
        if (next_waiting()) wake_worker_.notify_one();
    }

private:
    static constexpr std::size_t max_held = 8;  // reads done and not yet taken
    static constexpr std::size_t max_held_entries = 1 << 16;
    static constexpr std::size_t max_lent_descriptors = 8;
    static constexpr std::size_t max_queued = 1 << 14;
    static constexpr std::size_t max_planned_per_directory = 1 << 12;

    // Queues reads of `names` at `at` (under the lock).
    void queue(std::vector<std::string>& names, int fd, dev_t device, const WalkDir* parent,
               std::uint64_t parent_serial, std::size_t at) {
        if (lent_ >= max_lent_descriptors || reads_.size() >= max_queued) return;
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return;
        auto shared = std::make_shared<SharedFd>(copy);
        lenders_.push_back(shared);
        ++lent_;
        std::vector<std::unique_ptr<AheadRead>> planned;
        for (auto& name : names) {
            auto read = std::make_unique<AheadRead>();
            read->parent = parent;
            read->parent_serial = parent_serial;
            read->serial = ++serials_;
            read->parent_fd = shared;
            read->parent_device = device;
            read->name = std::move(name);
            planned.push_back(std::move(read));
        }
        reads_.insert(reads_.begin() + static_cast<std::ptrdiff_t>(at),
                      std::make_move_iterator(planned.begin()),
                      std::make_move_iterator(planned.end()));
        wake_worker_.notify_one();
    }

    // Drops the reads `unwanted` picks and, with them, what they planned
    // (under the lock); one under way is dropped when it ends.
    template <class Pick>
    void drop(Pick unwanted) {
        std::vector<std::uint64_t> gone;
        for (auto at = reads_.begin(); at != reads_.end();) {
            AheadRead& read = **at;
            const bool planned_by_gone =
                !read.parent &&
                std::find(gone.begin(), gone.end(), read.parent_serial) != gone.end();
            if (read.abandoned || (!unwanted(read) && !planned_by_gone)) {
                ++at;
                continue;
            }
            if (read.planned_children) gone.push_back(read.serial);
            if (read.state == AheadRead::State::working) {
                read.abandoned = true;
                ++at;
                continue;
            }
            if (read.fd >= 0) ::close(read.fd);
            if (read.state == AheadRead::State::done) let_go(read);
            at = reads_.erase(at);
        }
    }

    void let_go(const AheadRead& read) {
        --held_;
        held_entries_ -= read.listing.entries.size();
    }

    void release_lenders() {
        std::erase_if(lenders_, [](const std::weak_ptr<SharedFd>& w) { return w.expired(); });
        lent_ = lenders_.size();
    }

    AheadRead* next_waiting() {
        if (held_ >= max_held || held_entries_ >= max_held_entries) return nullptr;
        for (auto& read : reads_)
            if (read->state == AheadRead::State::waiting) return read.get();
        return nullptr;
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            AheadRead* read = nullptr;
            wake_worker_.wait(lock, [&] { return stop_ || (read = next_waiting()) != nullptr; });
            if (stop_) return;
            perform(*read, lock, xattrs_);
        }
    }

    // Reads one waiting directory; the lock is let go meanwhile.
    void perform(AheadRead& read, std::unique_lock<std::mutex>& lock, XattrSupport& xattrs) {
        read.state = AheadRead::State::working;
        const int parent_fd = read.parent_fd->fd;
        lock.unlock();
        int fd = ::openat(parent_fd, read.name.c_str(), directory_flags | O_NOFOLLOW);
        if (fd >= 0 && ::fstat(fd, &read.st) != 0) {
            const int error = errno;
            ::close(fd);
            fd = -1;
            errno = error;
        }
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0)
            read_listing(read.listing, fd, read.st.st_dev, read.st.st_dev != read.parent_device,
                         xattrs, true, &stopping_);
        std::vector<std::string> names;
        if (fd >= 0 && read.listing.readable) {
            names = subdirectories(read.listing, max_planned_per_directory);
            if (!worth_reading_ahead(read.listing, names.size())) names.clear();
        }
        lock.lock();
        read.fd = fd;
        read.error = error;
        read.state = AheadRead::State::done;
        read.parent_fd.reset();
        if (read.abandoned) {
            if (fd >= 0) ::close(fd);
            std::erase_if(reads_, [&read](const auto& r) { return r.get() == &read; });
        } else {
            ++held_;
            held_entries_ += read.listing.entries.size();
            if (!names.empty()) {
                const auto self = std::find_if(reads_.begin(), reads_.end(),
                                               [&read](const auto& r) { return r.get() == &read; });
                const std::size_t before = reads_.size();
                queue(names, fd, read.st.st_dev, nullptr, read.serial,
                      static_cast<std::size_t>(self - reads_.begin()) + 1);
                read.planned_children = reads_.size() != before;
            }
        }
        release_lenders();
        read_done_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable wake_worker_, read_done_;
    // Next needed first.
    std::deque<std::unique_ptr<AheadRead>> reads_;
    std::vector<std::weak_ptr<SharedFd>> lenders_;
    std::size_t lent_ = 0;
    std::size_t held_ = 0, held_entries_ = 0;
    std::uint64_t serials_ = 0;
    bool stop_ = false;
    std::atomic<bool> stopping_{false};
    // Each thread's own: what they learn is a property of the file system.
    XattrSupport xattrs_, helper_xattrs_;
    std::thread worker_;  // last: starts once everything above exists
};

WalkDirs::WalkDirs() : limit_(descriptor_budget()) {}
WalkDirs::~WalkDirs() = default;

WalkAhead* WalkDirs::ahead() {
    if (!ahead_started_) {
        ahead_started_ = true;
        const char* wanted = std::getenv("FILARIX_WALK_THREADS");
        const bool one =
            wanted ? std::string_view(wanted) == "1" : std::thread::hardware_concurrency() < 2;
        if (!one) ahead_ = std::make_unique<WalkAhead>();
    }
    return ahead_.get();
}

int WalkDirs::fd_of(WalkDir& dir) {
    if (dir.fd >= 0) {
        const auto at = std::find(open_.begin(), open_.end(), &dir);
        if (at != open_.end() && at + 1 != open_.end()) std::rotate(at, at + 1, open_.end());
        return dir.fd;
    }
    int fd = -1;
    if (dir.parent) {
        const int parent_fd = fd_of(*dir.parent);
        if (parent_fd >= 0)
            fd = ::openat(parent_fd, dir.name.c_str(), directory_flags | O_NOFOLLOW);
    } else {
        fd = ::open(dir.name.c_str(), directory_flags);
    }
    if (fd < 0) return -1;
    if (!same_directory(fd, dir)) {  // renamed or replaced meanwhile
        ::close(fd);
        return -1;
    }
    dir.fd = fd;
    opened(dir);
    return fd;
}

void WalkDirs::opened(WalkDir& dir) {
    open_.push_back(&dir);
    while (open_.size() > limit_) {
        WalkDir* oldest = open_.front();
        open_.erase(open_.begin());
        ::close(oldest->fd);
        oldest->fd = -1;
    }
}

void WalkDirs::closing(WalkDir& dir) {
    if (listed_ == &dir) listed_ = nullptr;
    if (delivered_dir_ == &dir) delivered_dir_ = nullptr;
    if (ahead_ && dir.reads_queued) ahead_->forget(dir);
    if (dir.fd < 0) return;
    int parent_fd = -1;
    if (dir.parent && dir.parent->fd < 0)
        parent_fd = ::openat(dir.fd, "..", directory_flags | O_NOFOLLOW);
    open_.erase(std::find(open_.begin(), open_.end(), &dir));
    ::close(dir.fd);
    dir.fd = -1;
    if (parent_fd < 0) return;
    if (!same_directory(parent_fd, *dir.parent)) {
        ::close(parent_fd);  // moved elsewhere: the parent is reopened by name
        return;
    }
    dir.parent->fd = parent_fd;
    opened(*dir.parent);
}

void WalkDirs::listing(WalkDir& dir, std::u16string_view path) {
    listed_ = &dir;
    listed_path16_.assign(path);
    listed_path_.clear();
}

void WalkDirs::delivered(const WalkDir& dir, std::size_t index) {
    delivered_dir_ = &dir;
    delivered_ = index;
}

namespace {
// Equal texts, compared as memory: deep paths are long.
bool same_text(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}
}  // namespace

bool WalkDirs::known_without_streams(std::u16string_view path) {
    if (!listed_ || delivered_dir_ != listed_) return false;
    const Listing& l = listed_->listing;
    const Listed& e = l.entries[delivered_];
    if (!e.names_known || e.has_streams) return false;
    // Compared as the walk spells them: a deep path is never converted.
    while (path.size() > 1 && path.back() == u'/') path.remove_suffix(1);
    const std::u16string_view name = l.shown_name(e);
    if (name == u".") {  // the directory itself, named without its separator
        std::u16string_view own(listed_path16_);
        while (own.size() > 1 && own.back() == u'/') own.remove_suffix(1);
        return same_text(path, own);
    }
    return path.size() == listed_path16_.size() + name.size() &&
           same_text(path.substr(0, listed_path16_.size()), listed_path16_) &&
           same_text(path.substr(listed_path16_.size()), name);
}

std::optional<AtName> WalkDirs::inside_listed(const std::string& path) {
    if (!listed_) return std::nullopt;
    // Converted only when a file of it is opened.
    if (listed_path_.empty()) listed_path_ = to_bytes(listed_path16_);
    if (path.size() <= listed_path_.size() ||
        path.compare(0, listed_path_.size(), listed_path_) != 0)
        return std::nullopt;
    std::string name = path.substr(listed_path_.size());
    if (name.find('/') != std::string::npos) return std::nullopt;
    const int fd = fd_of(*listed_);
    if (fd < 0) return std::nullopt;
    return AtName{fd, std::move(name)};
}

std::unique_ptr<DirHandle> PosixSystem::open_directory(std::u16string_view path) {
    std::string bytes = strip_trailing_separators(to_bytes(path));
    if (bytes.empty()) bytes.push_back('.');
    search_refused_ = false;
    const int fd = ::open(bytes.c_str(), directory_flags);
    if (fd < 0) {
        search_refused_ = refusal(errno);
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        search_refused_ = refusal(errno);
        ::close(fd);
        return nullptr;
    }
    const bool root = is_mount_root(fd, bytes);
    auto dir = std::make_unique<WalkDir>(walk_, nullptr, std::move(bytes), st, fd);
    dir->mount_root = root;
    walk_.opened(*dir);
    return dir;
}

std::unique_ptr<DirHandle> PosixSystem::open_subdirectory(DirHandle& parent,
                                                          std::u16string_view name) {
    search_refused_ = false;
    auto* up = dynamic_cast<WalkDir*>(&parent);
    if (!up) return nullptr;
    std::string bytes = to_bytes(name);
    if (WalkAhead* ahead = up->reads_queued ? walk_.ahead() : nullptr) {
        if (auto read = ahead->take(*up, bytes)) {
            if (read->fd < 0) {
                search_refused_ = refusal(read->error);
                return nullptr;
            }
            auto dir = std::make_unique<WalkDir>(walk_, up, std::move(bytes), read->st, read->fd);
            dir->mount_root = read->st.st_dev != up->device;
            dir->read = true;
            dir->listing = std::move(read->listing);
            dir->planned = read->planned_children;
            dir->reads_queued = read->planned_children;
            ahead->adopt(*read, *dir);
            walk_.opened(*dir);
            return dir;
        }
    }
    const int parent_fd = walk_.fd_of(*up);
    if (parent_fd < 0) return nullptr;
    // Never through a link: an entry swapped for one fails here.
    const int fd = ::openat(parent_fd, bytes.c_str(), directory_flags | O_NOFOLLOW);
    if (fd < 0) {
        search_refused_ = refusal(errno);
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        search_refused_ = refusal(errno);
        ::close(fd);
        return nullptr;
    }
    auto dir = std::make_unique<WalkDir>(walk_, up, std::move(bytes), st, fd);
    dir->mount_root = st.st_dev != up->device;
    walk_.opened(*dir);
    return dir;
}

std::unique_ptr<DirSearch> PosixSystem::search_directory(DirHandle& directory,
                                                         std::u16string_view path,
                                                         std::u16string_view mask, FindData& first,
                                                         SearchDetail detail) {
    search_refused_ = false;
    auto* dir = dynamic_cast<WalkDir*>(&directory);
    if (!dir) return FileSystem::search_directory(directory, path, mask, first, detail);
    if (!dir->read) {
        const int fd = walk_.fd_of(*dir);
        if (fd < 0) return nullptr;
        dir->read = true;
        read_listing(dir->listing, fd, dir->device, dir->mount_root, xattrs_,
                     walk_.ahead() != nullptr);
    }
    if (!dir->listing.readable) {
        // Opened, and its names could not be read to the end.
        search_refused_ = true;
        return nullptr;
    }
    if (!dir->planned) {
        dir->planned = true;
        if (WalkAhead* ahead = walk_.ahead()) {
            const int fd = walk_.fd_of(*dir);
            if (fd >= 0) dir->reads_queued = ahead->plan(*dir, fd);
        }
    }
    walk_.listing(*dir, path);
    auto search = std::make_unique<ListedSearch>(*dir, mask);
    if (!search->next(first)) return nullptr;
    return search;
}

}  // namespace platform::posix
