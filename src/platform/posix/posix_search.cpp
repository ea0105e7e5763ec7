// Directory searches: a directory is read whole when the search starts,
// "." and ".." first (none at the root of a mount), the other names in
// name_less order, every name filtered through the Windows mask rules.
// A walk goes from directory handle to directory handle: each directory is
// opened relative to its parent without following a link, read and
// examined once, and its masks are answered from what was read.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

struct Entry {
    std::u16string name;
    std::string bytes;
    unsigned char type = DT_UNKNOWN;
    bool dot = false;  // "." or ".."
};

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
    if (dirfd < 0) return nullptr;

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
// directory's two arenas, so that a directory of many entries costs little
// more than its names.
struct Listed {
    std::uint32_t bytes_at = 0, bytes_size = 0;  // the name as the system has it
    std::uint32_t name_at = 0, name_size = 0;    // the name as the program shows it
    std::uint32_t attributes = 0;
    bool dos_candidate = false;  // may carry user.DOSATTRIB (not a link)
    bool regular = false;
    std::uint64_t size = 0;
    FileTicks creation = 0, access = 0, write = 0;
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

    std::u16string_view shown_name(const Listed& e) const {
        return std::u16string_view(names).substr(e.name_at, e.name_size);
    }
    const char* system_name(const Listed& e) const { return bytes.c_str() + e.bytes_at; }

    WalkDirs& owner;
    WalkDir* const parent;
    const std::string name;  // within the parent; the whole path for a start directory
    const dev_t device;
    const ino_t inode;
    int fd;
    bool mount_root = false;
    bool read = false;
    bool readable = false;
    std::vector<Listed> entries;
    std::string bytes;  // '\0'-separated
    std::u16string names;
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
        while (next_ < dir_.entries.size()) {
            const Listed& e = dir_.entries[next_++];
            const std::u16string_view name = dir_.shown_name(e);
            if (!every_ && !mask_matches(mask_, name)) continue;
            out.attributes = e.attributes;
            out.size = e.size;
            out.creation = e.creation;
            out.access = e.access;
            out.write = e.write;
            out.name.assign(name);
            out.short_name.clear();
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

void append_entry(WalkDir& dir, std::string_view bytes, Listed e) {
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

// The entry's user.DOSATTRIB, asked relative to the directory; the path
// through the descriptor is the fallback, as short as the name however
// deep the walk.
std::optional<std::uint32_t> dos_bits(int dirfd, const char* name, dev_t device,
                                      XattrSupport& xattrs) {
    const std::string via_fd = "/proc/self/fd/" + std::to_string(dirfd) + "/" + name;
    return read_dos_attributes(via_fd, device, xattrs, dirfd, name);
}

// Whether the files of a directory are asked for user.DOSATTRIB. Asking
// costs a system call per file and almost every tree has none, so the
// rule is: a file system is asked file by file once any directory on it,
// or the first regular file of any directory, has been seen holding one
// (Samba writes it on every file and directory it creates, so a Samba
// tree is recognised at its first directory). Until then each directory
// costs two look-ups, not one per file. A file holding one that sits
// among files that do not, in a directory without one, on a file system
// where no other holder was seen, keeps its derived letters.
bool ask_for_dos(int dirfd, WalkDir& dir, XattrSupport& xattrs) {
    if (xattrs.refused(dir.device)) return false;
    if (xattrs.holds_dos(dir.device)) return true;
    char buffer[256];
    const ssize_t n = ::fgetxattr(dirfd, dos_attribute_xattr, buffer, sizeof buffer);
    if (n >= 0 || errno == ERANGE) {
        xattrs.mark_holds_dos(dir.device);
        return true;
    }
    if (errno == ENOTSUP) {
        xattrs.mark_refused(dir.device);
        return false;
    }
    for (const Listed& e : dir.entries) {
        if (!e.regular) continue;
        if (dos_bits(dirfd, dir.system_name(e), dir.device, xattrs)) {
            xattrs.mark_holds_dos(dir.device);
            return true;
        }
        break;
    }
    return false;
}

// Reads and examines a walk directory once.
void read_listing(WalkDir& dir, int dirfd, XattrSupport& xattrs) {
    dir.read = true;
    if (!dir.mount_root) {
        for (const char* dot : {".", ".."}) {
            Listed e;
            e.attributes = attr::directory;
            append_entry(dir, dot, e);
        }
    }
    const std::size_t dots = dir.entries.size();
    alignas(8) char buffer[32768];
    for (;;) {
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
            if (examine(dirfd, d->d_name, d->d_type, e)) append_entry(dir, bytes, e);
        }
    }
    if (ask_for_dos(dirfd, dir, xattrs)) {
        for (std::size_t i = dots; i < dir.entries.size(); ++i) {
            Listed& e = dir.entries[i];
            if (!e.dos_candidate) continue;
            const auto bits = dos_bits(dirfd, dir.system_name(e), dir.device, xattrs);
            if (!bits) continue;
            const std::string_view name(dir.system_name(e));
            EntryFacts facts;
            facts.mode = (e.attributes & attr::directory) ? S_IFDIR : S_IFREG;
            e.attributes = compute_attributes(facts, name, bits);
        }
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

}  // namespace

WalkDirs::WalkDirs() : limit_(descriptor_budget()) {}

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
    const int fd = ::open(bytes.c_str(), directory_flags);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
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
    auto* up = dynamic_cast<WalkDir*>(&parent);
    if (!up) return nullptr;
    const int parent_fd = walk_.fd_of(*up);
    if (parent_fd < 0) return nullptr;
    std::string bytes = to_bytes(name);
    // Never through a link: an entry swapped for one fails here.
    const int fd = ::openat(parent_fd, bytes.c_str(), directory_flags | O_NOFOLLOW);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
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
    auto* dir = dynamic_cast<WalkDir*>(&directory);
    if (!dir) return FileSystem::search_directory(directory, path, mask, first, detail);
    if (!dir->read) {
        const int fd = walk_.fd_of(*dir);
        if (fd < 0) return nullptr;
        read_listing(*dir, fd, xattrs_);
    }
    if (!dir->readable) return nullptr;
    walk_.listing(*dir, path);
    auto search = std::make_unique<ListedSearch>(*dir, mask);
    if (!search->next(first)) return nullptr;
    return search;
}

}  // namespace platform::posix
