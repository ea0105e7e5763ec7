// Small regular files read whole as the walk lists them, for a run that
// reads every file it lists: opened right after the walk examined them,
// while their names are fresh in the system's caches, their attribute
// names and bytes read through that one descriptor. Opened later on
// another thread, a small file cost a look-up of its name more and a
// hand-over between threads for each few files, more than its hashing.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/posix/posix_directory.hpp"

namespace platform::posix {

namespace {

// What the contents of all listings may hold at once. The walk keeps the
// listing of every directory above it until that directory's own files are
// listed, so a deep tree of small files would otherwise hold them all; the
// files past the mark are read when their records ask, as any others.
constexpr std::size_t most_held = 8 << 20;
std::atomic<std::size_t> held_now{0};

bool hold(std::size_t bytes) {
    if (held_now.fetch_add(bytes, std::memory_order_relaxed) + bytes <= most_held) return true;
    held_now.fetch_sub(bytes, std::memory_order_relaxed);
    return false;
}

FileState state_of(const struct statx& st) {
    return FileState{st.stx_size, ticks_from(st.stx_ctime.tv_sec,
                                             static_cast<std::uint32_t>(st.stx_ctime.tv_nsec))};
}

// A chunk holds the small files of a directory of a few dozen.
constexpr std::size_t chunk_size = 64 * 1024;

// The file's bytes, when it is still the file `st` describes, holds no
// more than `up_to` and nothing fails; it is left to be read later
// otherwise, where a failure is reported as the run reports any.
std::shared_ptr<const ListedContents> read_contents(int fd, const struct statx& st,
                                                    std::size_t up_to, ContentsArena& arena) {
    // One byte of room more than the limit shows a file that grew past it.
    char* const buffer = arena.room(up_to + 1);
    if (!buffer) return nullptr;
    const std::size_t size = st.stx_size;
    std::size_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer + total, up_to + 1 - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            return nullptr;
        }
        total += static_cast<std::size_t>(got);
        if (got == 0 || total > up_to) break;
        // Short at the size the status gave: that is the end, and the call
        // that would say so is spared. Whether the file grew meanwhile, the
        // state after the read tells.
        if (total == size) break;
    }
    if (total > up_to) return nullptr;
    // The state after the read, and what the descriptor holds: the very
    // file the walk examined by its name an instant before, or none.
    struct statx after;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_SIZE | STATX_CTIME | STATX_INO, &after) != 0 ||
        after.stx_ino != st.stx_ino || after.stx_dev_major != st.stx_dev_major ||
        after.stx_dev_minor != st.stx_dev_minor)
        return nullptr;
    auto contents = arena.keep(total);
    contents->opened = state_of(st);
    contents->after = state_of(after);
    return contents;
}

// Opens a file of the listing as the walk reads it: never a link, never
// waiting on a pipe that took the name, and never changing the access
// time. A file the program may not read without doing so (one it does not
// own) is left to the later read, which the run's settings govern.
int open_listed(int dirfd, const char* name) {
    return ::openat(dirfd, name,
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOATIME | O_CLOEXEC | O_NOCTTY);
}

ListedRead not_open() {
    return errno == EPERM ? ListedRead::refused : ListedRead::not_opened;
}

// Its attribute names and, where it is small, its bytes, through `fd`.
void read_through(int fd, const struct statx& st, dev_t device, std::size_t up_to, bool& names,
                  XattrSupport& xattrs, ContentsArena& arena, Listed& e) {
    if (names && e.dos_candidate) {
        read_attribute_names_of(fd, device, xattrs, e);
        names = !xattrs.refused(device);
    }
    if (e.regular && st.stx_size <= up_to) e.contents = read_contents(fd, st, up_to, arena);
}

}  // namespace

ContentsChunk::~ContentsChunk() {
    held_now.fetch_sub(size, std::memory_order_relaxed);
}

char* ContentsArena::room(std::size_t n) {
    if (!chunk_ || chunk_->size - chunk_->used < n) {
        const std::size_t size = std::max(n, chunk_size);
        if (!hold(size)) return nullptr;
        chunk_ = std::make_shared<ContentsChunk>(size);
    }
    return chunk_->data.get() + chunk_->used;
}

std::shared_ptr<ListedContents> ContentsArena::keep(std::size_t n) {
    auto contents = std::make_shared<ListedContents>();
    contents->bytes = std::string_view(chunk_->data.get() + chunk_->used, n);
    contents->chunk = chunk_;
    chunk_->used += n;
    return contents;
}

ListedRead examine_opened(int dirfd, const char* name, dev_t device, std::size_t up_to, bool& names,
                          XattrSupport& xattrs, ContentsArena& arena, Listed& e) {
    const int fd = open_listed(dirfd, name);
    if (fd < 0) return not_open();
    struct statx st;
    if (::statx(fd, "", AT_EMPTY_PATH, stat_mask, &st) != 0) {
        ::close(fd);
        return ListedRead::not_opened;
    }
    examine_status(dirfd, name, st, e);
    read_through(fd, st, device, up_to, names, xattrs, arena, e);
    ::close(fd);
    return ListedRead::opened;
}

ListedRead read_listed(int dirfd, const char* name, const struct statx& st, dev_t device,
                       std::size_t up_to, bool& names, XattrSupport& xattrs, ContentsArena& arena,
                       Listed& e) {
    const int fd = open_listed(dirfd, name);
    if (fd < 0) return not_open();
    read_through(fd, st, device, up_to, names, xattrs, arena, e);
    ::close(fd);
    return ListedRead::opened;
}

}  // namespace platform::posix
