// A walk goes from directory handle to directory handle: each directory is
// opened relative to its parent without following a link, read and
// examined once, and its masks are answered from what was read. Few
// descriptors stay open however deep the walk.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_directory.hpp"

namespace platform::posix {
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
            out.precise = e.precise;
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

std::size_t descriptor_budget() {
    // An eighth of what the process may hold, the rest left to the
    // listing, the log and the file being read.
    return std::clamp<std::size_t>(descriptor_limit() / 8, 2, 64);
}

}  // namespace

std::size_t descriptor_limit() {
    struct rlimit limit;
    rlim_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        soft = limit.rlim_cur;
    return static_cast<std::size_t>(soft);
}

// A quarter of what the process may hold: the walk's folders take an
// eighth, and the listing, the log and the stray file the rest.
std::size_t PosixSystem::files_open_budget() const {
    return std::clamp<std::size_t>(descriptor_limit() / 4, 2, 256);
}

WalkDirs::WalkDirs() : limit_(descriptor_budget()) {}
WalkDirs::~WalkDirs() = default;

WalkAhead* WalkDirs::ahead() {
    if (!ahead_started_) {
        ahead_started_ = true;
        const char* wanted = std::getenv("FILARIX_WALK_THREADS");
        const bool one =
            wanted ? std::string_view(wanted) == "1" : std::thread::hardware_concurrency() < 2;
        if (!one) ahead_ = std::make_unique<WalkAhead>(contents_up_to);
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
    if (listed_ == &dir) {
        listed_ = nullptr;
        held_.reset();
    }
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
    if (listed_ != &dir) held_.reset();
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

// The entries the walk delivered last, a batch of them read ahead before
// their records are written: the entry of that name among them, looked
// for back from the last one. Null when it is not among them.
constexpr std::size_t recent_window = 64;

// `next` is where the last one was found, plus one: asked in the walk's
// order, the entry is most often that one, found with one comparison.
template <class Same>
const Listed* recent_entry(const Listing& l, std::size_t last, std::size_t& next, Same same) {
    if (next <= last && same(l.entries[next])) return &l.entries[next++];
    const std::size_t stop = last >= recent_window ? last - recent_window : 0;
    for (std::size_t i = last + 1; i-- > stop;)
        if (same(l.entries[i])) {
            next = i + 1;
            return &l.entries[i];
        }
    return nullptr;
}

}  // namespace

bool WalkDirs::known_without_streams(std::u16string_view path) {
    if (!listed_ || delivered_dir_ != listed_) return false;
    const Listing& l = listed_->listing;
    // Compared as the walk spells them: a deep path is never converted.
    while (path.size() > 1 && path.back() == u'/') path.remove_suffix(1);
    const Listed& last = l.entries[delivered_];
    if (l.shown_name(last) == u".") {  // the directory itself, named without its separator
        std::u16string_view own(listed_path16_);
        while (own.size() > 1 && own.back() == u'/') own.remove_suffix(1);
        if (same_text(path, own)) return last.names_known && !last.has_streams;
    }
    if (path.size() <= listed_path16_.size() ||
        !same_text(path.substr(0, listed_path16_.size()), listed_path16_))
        return false;
    const std::u16string_view name = path.substr(listed_path16_.size());
    const Listed* e = recent_entry(l, delivered_, next_recorded_, [&](const Listed& x) {
        return same_text(l.shown_name(x), name);
    });
    return e && e->names_known && !e->has_streams;
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
    return at_listed(std::move(name));
}

std::optional<AtName> WalkDirs::inside_listed(std::u16string_view path) {
    // Compared as the walk spells it: only the name is converted.
    if (!listed_ || path.size() <= listed_path16_.size() ||
        !same_text(path.substr(0, listed_path16_.size()), listed_path16_))
        return std::nullopt;
    const std::u16string_view name = path.substr(listed_path16_.size());
    if (name.find(u'/') != std::u16string_view::npos) return std::nullopt;
    return at_listed(to_bytes(name));
}

std::shared_ptr<HeldDirectory> WalkDirs::held_listed() {
    if (held_ || !listed_) return held_;
    const int fd = fd_of(*listed_);
    const int copy = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0) held_ = std::make_shared<HeldDirectory>(copy);
    return held_;
}

std::optional<AtName> WalkDirs::at_listed(std::string name) {
    const int fd = fd_of(*listed_);
    if (fd < 0) return std::nullopt;
    AtName at{fd, std::move(name)};
    if (delivered_dir_ == listed_) {
        const Listing& l = listed_->listing;
        const Listed* e = recent_entry(l, delivered_, next_opened_, [&](const Listed& x) {
            return x.bytes_size == at.name.size() &&
                   std::memcmp(l.system_name(x), at.name.data(), at.name.size()) == 0;
        });
        if (e && e->regular && e->precise) {
            at.walked_regular = true;
            at.device = e->precise->device;
            at.inode = e->precise->inode;
            at.contents = e->contents;
        }
    }
    return at;
}

bool PosixSystem::opened_status(int fd, struct stat& st) {
    if (fd >= 0 && ::fstat(fd, &st) == 0) return true;
    search_refused_ = refusal(errno);
    if (fd >= 0) ::close(fd);
    return false;
}

std::unique_ptr<DirHandle> PosixSystem::open_directory(std::u16string_view path) {
    std::string bytes = strip_trailing_separators(to_bytes(path));
    if (bytes.empty()) bytes.push_back('.');
    search_refused_ = false;
    const int fd = ::open(bytes.c_str(), directory_flags);
    struct stat st;
    if (!opened_status(fd, st)) return nullptr;
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
            // The reader ahead leaves a mount below unread: the walk may
            // not enter it.
            if (!dir->mount_root) {
                dir->read = true;
                dir->listing = std::move(read->listing);
                dir->planned = read->planned_children;
                dir->reads_queued = read->planned_children;
            }
            ahead->adopt(*read, *dir);
            walk_.opened(*dir);
            return dir;
        }
    }
    const int parent_fd = walk_.fd_of(*up);
    if (parent_fd < 0) return nullptr;
    // Never through a link: an entry swapped for one fails here.
    const int fd = ::openat(parent_fd, bytes.c_str(), directory_flags | O_NOFOLLOW);
    struct stat st;
    if (!opened_status(fd, st)) return nullptr;
    auto dir = std::make_unique<WalkDir>(walk_, up, std::move(bytes), st, fd);
    dir->mount_root = st.st_dev != up->device;
    walk_.opened(*dir);
    return dir;
}

void PosixSystem::pass_by_subdirectory(DirHandle& parent, std::u16string_view name) {
    auto* up = dynamic_cast<WalkDir*>(&parent);
    if (!up || !up->reads_queued) return;
    if (WalkAhead* ahead = walk_.ahead()) ahead->pass_by(*up, to_bytes(name));
}

// The device the open made known: no call of its own.
std::optional<std::uint64_t> PosixSystem::directory_file_system(DirHandle& directory,
                                                                std::u16string_view) {
    auto* dir = dynamic_cast<WalkDir*>(&directory);
    if (!dir) return std::nullopt;
    return static_cast<std::uint64_t>(dir->device);
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
                     walk_.ahead() != nullptr,
                     walk_.contents_up_to.load(std::memory_order_relaxed));
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
