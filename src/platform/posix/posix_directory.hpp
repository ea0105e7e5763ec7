// Shared pieces of the backend's directory facilities: the status of an
// entry, the walk's listing of a directory, its directory handles and the
// reader ahead. Only the directory sources include this header.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {

// ----- entries (posix_entries.cpp) -----
// A directory that could not be opened is there and refuses to be read,
// unless it has gone or was replaced by something that is not a
// directory of its own (a file, a link).
inline bool refusal(int error) {
    return error != ENOENT && error != ENOTDIR && error != ELOOP;
}

inline constexpr int stat_flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
inline constexpr unsigned stat_mask = STATX_BASIC_STATS | STATX_BTIME;
inline constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// An entry's size (none for a directory or a link), times and precise
// facts from its status, into a listed entry or a search's result alike.
template <class Entry>
void take_status(const struct statx& st, mode_t mode, Entry& e) {
    e.size = (S_ISDIR(mode) || S_ISLNK(mode)) ? 0 : st.stx_size;
    e.creation =
        (st.stx_mask & STATX_BTIME) ? ticks_from(st.stx_btime.tv_sec, st.stx_btime.tv_nsec) : 0;
    e.access = ticks_from(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    e.write = ticks_from(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    e.precise = precise_of(st);
}

// Whether a link's target is a directory.
bool target_is_directory(int dirfd, const char* name);
// The file type of what a directory entry told, as mode bits; 0 when unknown.
mode_t mode_of_type(unsigned char type);
// The root of a mount has no "." and ".." entries in a Windows listing.
bool is_mount_root(int dirfd, std::string_view dir);

// ----- the walk's listing of a directory (posix_listing.cpp) -----
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
    std::optional<PreciseFacts> precise;
    std::shared_ptr<const ListedContents> contents;  // read as it was listed
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

// Gives the calling thread a lower share of a busy core than the run's
// other threads; nothing when the system refuses.
void lower_thread_priority();

// Reads and examines a directory once. Regular files of at most
// `contents_up_to` bytes are read whole as they are examined (none for 0).
// `stop` cuts a long read short when the run is ending; the listing is
// then unreadable.
void read_listing(Listing& dir, int dirfd, dev_t device, bool mount_root, XattrSupport& xattrs,
                  bool two_threads, std::size_t contents_up_to,
                  const std::atomic<bool>* stop = nullptr);
// The facts of an entry from its status (statx of it or of its descriptor).
void examine_status(int dirfd, const char* name, const struct statx& st, Listed& e);

// ----- small files read as they are listed (posix_listing_contents.cpp) -----
// Where the files of one examining put their bytes, a chunk at a time.
class ContentsArena {
public:
    // Room for up to `n` bytes; null when all listings hold what they may.
    char* room(std::size_t n);
    // The first `n` bytes of the room are a file's.
    std::shared_ptr<ListedContents> keep(std::size_t n);

private:
    std::shared_ptr<ContentsChunk> chunk_;
};
enum class ListedRead { opened, not_opened, refused };
// Reads a small regular file the walk has just examined (`st`, which holds
// at most `up_to` bytes) whole, while the memory all listings may hold has
// room; its attribute names are read through its descriptor too where
// `names`, which is cleared where the file system refuses attributes.
// not_opened: the file could not be opened; refused too, and so are the
// others the program may not open without changing their access time.
ListedRead read_listed(int dirfd, const char* name, const struct statx& st, dev_t device,
                       std::size_t up_to, bool& names, XattrSupport& xattrs, ContentsArena& arena,
                       Listed& e);
// The same for a file the directory told is regular and that is not yet
// examined: its status comes through its descriptor too, one look-up of
// its name for all. A large file then costs an open it did not need, so
// the walk does this while the files it meets are small.
ListedRead examine_opened(int dirfd, const char* name, dev_t device, std::size_t up_to, bool& names,
                          XattrSupport& xattrs, ContentsArena& arena, Listed& e);

// ----- extended attributes of listed entries (posix_listing_xattrs.cpp) -----
// Reads the names of the entry's extended attributes relative to the
// directory, so that the entry's named streams and its DOSATTRIB are known
// without a look-up by path. Nothing is recorded when the list cannot be
// read whole (the look-ups by path then answer); false when the system
// has no such call.
bool read_attribute_names(int dirfd, const char* name, dev_t device, XattrSupport& xattrs,
                          Listed& e);
// The same through a descriptor of the entry.
void read_attribute_names_of(int fd, dev_t device, XattrSupport& xattrs, Listed& e);
// The entry's user.DOSATTRIB, asked relative to the directory.
std::optional<std::uint32_t> dos_bits(int dirfd, const char* name, dev_t device,
                                      XattrSupport& xattrs);
// Whether the files of a directory whose attribute names could not be
// read are asked for user.DOSATTRIB.
bool ask_for_dos(int dirfd, const Listing& dir, dev_t device, XattrSupport& xattrs);

// ----- directory handles (posix_walk_dirs.cpp) -----
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

// ----- the reader ahead (posix_walk_ahead.cpp) -----
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
    // Cuts a read under way short: no longer wanted, or the reader stops.
    std::atomic<bool> cut{false};
    // What the read found: the subdirectory's own descriptor (or -1 when
    // it could not be opened, with the reason in `error`) and its listing.
    int fd = -1;
    int error = 0;
    struct stat st {};
    Listing listing;
};

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
    // `contents_up_to`: the walk's limit for the files it reads as it lists
    // them, which the reader ahead reads too.
    explicit WalkAhead(const std::atomic<std::size_t>& contents_up_to);
    ~WalkAhead();
    WalkAhead(const WalkAhead&) = delete;
    WalkAhead& operator=(const WalkAhead&) = delete;

    // Queues the subdirectories of `dir`, read through a copy of `fd`;
    // whether any was queued.
    bool plan(const WalkDir& dir, int fd);
    // The read of `name` in `parent`, when one is done or under way.
    std::unique_ptr<AheadRead> take(const WalkDir& parent, const std::string& name);
    // The walk made `dir` of a read it took: what that read planned is
    // now the directory's.
    void adopt(const AheadRead& read, const WalkDir& dir);
    // `dir` ends: what was planned in it is no longer wanted.
    void forget(const WalkDir& dir);
    // The walk will not enter `name` in `parent`: its read is not wanted.
    void pass_by(const WalkDir& parent, const std::string& name);

private:
    static constexpr std::size_t max_held = 8;  // reads done and not yet taken
    static constexpr std::size_t max_held_entries = 1 << 16;
    static constexpr std::size_t max_lent_descriptors = 8;
    static constexpr std::size_t max_queued = 1 << 14;
    static constexpr std::size_t max_planned_per_directory = 1 << 12;

    // Queues reads of `names` at `at` (under the lock).
    void queue(std::vector<std::string>& names, int fd, dev_t device, const WalkDir* parent,
               std::uint64_t parent_serial, std::size_t at);
    // Drops the reads `unwanted` picks and, with them, what they planned
    // (under the lock); one under way is dropped when it ends.
    template <class Pick>
    void drop(Pick unwanted);
    void let_go(const AheadRead& read);
    void release_lenders();
    AheadRead* next_waiting();
    void work();
    // Reads one waiting directory; the lock is let go meanwhile.
    void perform(AheadRead& read, std::unique_lock<std::mutex>& lock, XattrSupport& xattrs);

    const std::atomic<std::size_t>& contents_up_to_;
    std::mutex mutex_;
    std::condition_variable wake_worker_, read_done_;
    // Next needed first.
    std::deque<std::unique_ptr<AheadRead>> reads_;
    std::vector<std::weak_ptr<SharedFd>> lenders_;
    std::size_t lent_ = 0;
    std::size_t held_ = 0, held_entries_ = 0;
    std::uint64_t serials_ = 0;
    bool stop_ = false;
    // Each thread's own: what they learn is a property of the file system.
    XattrSupport xattrs_, helper_xattrs_;
    std::thread worker_;  // last: starts once everything above exists
};

}  // namespace platform::posix
