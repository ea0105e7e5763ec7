// Entry data, file contents, named streams (user extended attributes) and
// text output.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

// The status change time moves with every write and truncation, and no
// one can set it back as they can the write time.
FileState state_of(const struct stat& st) {
    return FileState{static_cast<std::uint64_t>(st.st_size),
                     ticks_from(st.st_ctim.tv_sec, static_cast<std::uint32_t>(st.st_ctim.tv_nsec))};
}

std::optional<FileState> fd_state(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return state_of(st);
}

class FdInput final : public InputFile {
public:
    // sequential: advise read-ahead once the file proves longer than one
    // read, so that small files cost no call for it. opened: the state the
    // open found, which the first question is answered with, the open
    // having asked it an instant before.
    explicit FdInput(int fd, bool sequential = false, std::optional<FileState> opened = {})
        : fd_(fd), advise_(sequential), opened_(opened) {
        if (opened) size_ = opened->size;
    }
    ~FdInput() override { ::close(fd_); }
    FdInput(const FdInput&) = delete;
    FdInput& operator=(const FdInput&) = delete;

    long long read(void* buffer, std::size_t size) override {
        // A read that came short at the size the open found met the end:
        // the call that would say so is spared. It is the answer a read an
        // instant later would give; whether the file grew meanwhile, the
        // state asked after the reading tells.
        if (at_end_ && size > 0) return 0;
        if (advise_ && reads_ == 1 && first_filled_)
            ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        const long long got = read_some(fd_, buffer, size);
        if (reads_++ == 0) first_filled_ = got == static_cast<long long>(size);
        if (got > 0) {
            position_ += static_cast<std::uint64_t>(got);
            at_end_ = static_cast<std::size_t>(got) < size && size_ && position_ == *size_;
        }
        return got;
    }
    bool seek(std::uint64_t offset) override {
        at_end_ = false;
        if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
            size_.reset();  // the position is no longer known
            return false;
        }
        position_ = offset;
        return true;
    }
    long long read_at(void* buffer, std::size_t size, std::uint64_t offset) override {
        for (;;) {
            const ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
            if (n >= 0) return n;
            if (errno != EINTR || interrupt_pending()) return -1;
        }
    }
    std::optional<FileState> state() override {
        if (const auto first = std::exchange(opened_, std::nullopt)) return first;
        return fd_state(fd_);
    }
    std::unique_ptr<MappedBytes> map(std::uint64_t offset, std::size_t size) override {
        return map_for_reading(fd_, offset, size);
    }

private:
    int fd_;
    bool advise_;
    std::optional<FileState> opened_;
    std::optional<std::uint64_t> size_;  // as the open found it
    std::uint64_t position_ = 0;
    bool at_end_ = false;
    int reads_ = 0;
    bool first_filled_ = false;
};

class FdUpdate final : public UpdateFile {
public:
    explicit FdUpdate(int fd) : fd_(fd) {}
    ~FdUpdate() override { ::close(fd_); }
    FdUpdate(const FdUpdate&) = delete;
    FdUpdate& operator=(const FdUpdate&) = delete;

    long long read(void* buffer, std::size_t size) override { return read_some(fd_, buffer, size); }
    bool seek(std::uint64_t offset) override {
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
    }
    std::optional<FileState> state() override { return fd_state(fd_); }
    std::optional<std::uint64_t> size() override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) return std::nullopt;
        return static_cast<std::uint64_t>(st.st_size);
    }
    bool write(const void* data, std::size_t size) override { return write_all(fd_, data, size); }
    bool set_end(std::uint64_t offset) override {
        for (;;) {
            if (::ftruncate(fd_, static_cast<off_t>(offset)) == 0) return true;
            if (errno != EINTR) return false;
        }
    }

private:
    int fd_;
};

// A named stream, read whole when it is opened.
class MemoryInput final : public InputFile {
public:
    explicit MemoryInput(std::string data) : data_(std::move(data)) {}
    long long read(void* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, data_.size() - std::min(pos_, data_.size()));
        if (n > 0) std::memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<long long>(n);
    }
    bool seek(std::uint64_t offset) override {
        pos_ = static_cast<std::size_t>(offset);
        return true;
    }
    // Read whole at the open: it cannot change afterwards.
    std::optional<FileState> state() override { return FileState{data_.size(), 0}; }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

class FdSink final : public Sink {
public:
    FdSink(int fd, bool owned) : fd_(fd), owned_(owned), terminal_(::isatty(fd) == 1) {
        struct stat st;
        device_ = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
    }
    ~FdSink() override {
        if (owned_ && fd_ >= 0) ::close(fd_);
    }
    FdSink(const FdSink&) = delete;
    FdSink& operator=(const FdSink&) = delete;

    bool write(const char* data, std::size_t size) override {
        return fd_ >= 0 && write_all(fd_, data, size);
    }
    bool close() override {
        if (!owned_ || fd_ < 0) return true;
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    bool is_terminal() const override { return terminal_; }
    bool is_device() const override { return device_; }

private:
    int fd_;
    bool owned_;
    bool terminal_;
    bool device_ = false;
};

// "file:NAME" or "file:NAME:$DATA" of a path that does not exist itself:
// the existing file and the bare stream name.
struct StreamPath {
    std::string file;
    std::string stream;
};

std::optional<StreamPath> split_stream_path(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    for (auto colon = path.find(':', start); colon != std::string::npos;
         colon = path.find(':', colon + 1)) {
        if (colon == start) continue;  // the file name cannot be empty
        StreamPath sp{path.substr(0, colon), path.substr(colon + 1)};
        struct stat st;
        if (::lstat(sp.file.c_str(), &st) != 0) continue;
        if (ends_with_data_suffix(sp.stream))
            sp.stream.resize(sp.stream.size() - stream_suffix.size());
        return sp;
    }
    return std::nullopt;
}

std::optional<std::string> read_stream(const StreamPath& sp) {
    auto value = read_xattr(sp.file, (std::string(stream_prefix) + sp.stream + ":$DATA").c_str());
    if (value) {
        drop_stream_terminator(*value);
        return value;
    }
    if (sp.stream == "DOSATTRIB") return std::nullopt;
    return read_xattr(sp.file, ("user." + sp.stream).c_str());
}

bool stat_times(const std::string& path, FileTicks& creation, FileTicks& access, FileTicks& write) {
    struct statx st;
    if (::statx(AT_FDCWD, path.c_str(), AT_NO_AUTOMOUNT, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return false;
    creation =
        (st.stx_mask & STATX_BTIME) ? ticks_from(st.stx_btime.tv_sec, st.stx_btime.tv_nsec) : 0;
    access = ticks_from(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    write = ticks_from(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    return true;
}

struct timespec timespec_of(FileTicks ticks) {
    struct timespec ts {};
    if (ticks == 0) {
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    ts.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / ticks_per_second) -
                                    epoch_difference_seconds);
    ts.tv_nsec = static_cast<long>((ticks % ticks_per_second) * 100);
    return ts;
}

// A file opened for reading, with the state the open found. `walked`:
// what the walk saw under its name. Another file took the name after the
// walk listed it: its first state has no change time, which no later one
// has, so the read is taken for that of a file changed since the listing.
std::unique_ptr<InputFile> opened_input(int fd, const struct stat& st, const AtName* walked) {
    FileState opened = state_of(st);
    if (walked && (static_cast<std::uint64_t>(st.st_dev) != walked->device ||
                   static_cast<std::uint64_t>(st.st_ino) != walked->inode))
        opened.change = 0;
    return std::make_unique<FdInput>(fd, true, opened);
}

// A regular file the walk listed, opened later on the reading thread
// through a copy of its directory's descriptor.
class PendingEntry final : public PendingOpen {
public:
    PendingEntry(std::shared_ptr<HeldDirectory> directory, AtName at)
        : directory_(std::move(directory)), at_(std::move(at)) {}
    std::unique_ptr<InputFile> open() override {
        struct stat st;
        const int fd = open_regular(at_.name, O_RDONLY | O_NOFOLLOW, 0, directory_->fd, &st, true);
        if (fd < 0) return nullptr;
        return opened_input(fd, st, &at_);
    }

private:
    std::shared_ptr<HeldDirectory> directory_;
    AtName at_;
};

}  // namespace

std::unique_ptr<PendingOpen> PosixSystem::prepare_entry_open(std::u16string_view path) {
    if (auto at = walk_.inside_listed(path); at && at->walked_regular) {
        if (at->contents) return std::make_unique<ReadAlready>(std::move(at->contents));
        if (auto directory = walk_.held_listed())
            return std::make_unique<PendingEntry>(std::move(directory), std::move(*at));
    }
    return System::prepare_entry_open(path);
}

void PosixSystem::read_small_files_when_listed(std::size_t up_to) {
    walk_.contents_up_to.store(up_to, std::memory_order_relaxed);
}

// The directory holding a path too long for the system to take whole,
// opened one component at a time, with the last component in `leaf`; -1
// when a component cannot be opened. Files met in the walk open relative
// to its own handles; this serves those opened after it (--DUPES).
int open_long_parent(const std::string& path, std::string& leaf) {
    const std::size_t last = path.rfind('/');
    if (last == std::string::npos) return -1;
    leaf = path.substr(last + 1);
    int fd = ::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t at = 0; fd >= 0 && at < last;) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos || end > last) end = last;
        if (end > at) {
            const std::string component = path.substr(at, end - at);
            const int next = ::openat(fd, component.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
        }
        at = end + 1;
    }
    return fd;
}

int open_regular(const std::string& path, int flags, mode_t mode, int dirfd, struct stat* opened,
                 bool walked_regular) {
    if (dirfd == AT_FDCWD && path.size() >= PATH_MAX) {
        std::string leaf;
        const int parent = open_long_parent(path, leaf);
        if (parent < 0) return -1;
        const int fd = open_regular(leaf, flags, mode, parent, opened);
        const int saved = errno;
        ::close(parent);
        errno = saved;
        return fd;
    }
    struct stat st;
    const int stat_flags = (flags & O_NOFOLLOW) ? AT_SYMLINK_NOFOLLOW : 0;
    // The walk's look is as old as the batch of files it lists at once; a
    // look here would narrow the window, not close it. What closes it is
    // the check on the open handle below, and the caller's of its identity.
    if (walked_regular) {
        // Listed as a regular file an instant ago.
    } else if (::fstatat(dirfd, path.c_str(), &st, stat_flags) == 0) {
        // Devices, pipes, sockets and directories have no contents to
        // catalogue, and none is a file the program keeps: not opened.
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return -1;
        }
    } else if (errno != ENOENT || (flags & O_CREAT) == 0) {
        return -1;
    }
    // Not blocking: should a pipe have taken the name meanwhile, the open
    // neither waits for a writer nor hands over a descriptor that waits.
    const int open_flags = flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = -1;
    // Reading must not change the access time an examiner relies on: the
    // kernel allows that to the file's owner and to root only.
    if ((flags & O_ACCMODE) == O_RDONLY) fd = ::openat(dirfd, path.c_str(), open_flags | O_NOATIME);
    if (fd < 0 && ((flags & O_ACCMODE) != O_RDONLY || errno == EPERM))
        fd = ::openat(dirfd, path.c_str(), open_flags, mode);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    if (opened) *opened = st;
    // O_NONBLOCK changes nothing in a regular file's reads, so a file
    // opened to be read keeps it rather than cost two calls per file.
    if ((flags & O_ACCMODE) != O_RDONLY) {
        const int status = ::fcntl(fd, F_GETFL);
        if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    }
    return fd;
}

std::unique_ptr<Sink> make_fd_sink(int fd, bool owned) {
    return std::make_unique<FdSink>(fd, owned);
}

std::optional<std::uint32_t> PosixSystem::get_attributes(std::u16string_view path) {
    const std::string p = strip_trailing_separators(to_bytes(path));
    if (p.empty()) return std::nullopt;
    struct statx st;
    if (::statx(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MODE,
                &st) != 0)
        return std::nullopt;
    EntryFacts facts = facts_of(st);
    std::optional<std::uint32_t> dos;
    if (S_ISLNK(facts.mode)) {
        struct stat target;
        facts.target_is_directory = ::stat(p.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    } else {
        dos = read_dos_attributes(p, makedev(st.stx_dev_major, st.stx_dev_minor), xattrs_);
    }
    const std::string_view name = last_component(p);
    return compute_attributes(facts, (name == "." || name == "..") ? std::string_view{} : name,
                              dos);
}

bool PosixSystem::set_attributes(std::u16string_view path, std::uint32_t attributes) {
    const std::string p = strip_trailing_separators(to_bytes(path));
    struct stat st;
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;  // a link has no bits of its own to change
    if (const auto value = read_xattr(p, dos_attribute_xattr)) {
        std::uint32_t bits = attributes & ~(attr::directory | attr::reparse_point);
        if (S_ISDIR(st.st_mode)) bits |= attr::directory;
        const std::string updated = rewrite_dos_attributes(*value, bits);
        return ::lsetxattr(p.c_str(), dos_attribute_xattr, updated.data(), updated.size(), 0) == 0;
    }
    mode_t mode = st.st_mode & 07777;
    if (attributes & attr::readonly) {
        mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if ((mode & S_IWUSR) == 0) {
        // Writable again the way a new file would be.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode |= S_IWUSR | (mode_t(S_IWGRP | S_IWOTH) & ~mask);
    }
    if (mode == (st.st_mode & 07777)) return true;
    return ::chmod(p.c_str(), mode) == 0;
}

bool PosixSystem::get_times(std::u16string_view path, FileTicks& creation, FileTicks& access,
                            FileTicks& write) {
    const std::string p = to_bytes(path);
    if (stat_times(p, creation, access, write)) return true;
    if (errno != ENOENT) return false;
    const auto sp = split_stream_path(p);
    return sp && stat_times(sp->file, creation, access, write);
}

bool PosixSystem::set_times(std::u16string_view path, FileTicks, FileTicks access,
                            FileTicks write) {
    std::string p = to_bytes(path);
    const struct timespec times[2] = {timespec_of(access), timespec_of(write)};
    if (::utimensat(AT_FDCWD, p.c_str(), times, 0) == 0) return true;
    if (errno != ENOENT) return false;
    const auto sp = split_stream_path(p);
    return sp && ::utimensat(AT_FDCWD, sp->file.c_str(), times, 0) == 0;
}

bool PosixSystem::is_directory(std::u16string_view path) {
    struct stat st;
    return ::stat(to_bytes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixSystem::exists(std::u16string_view path) {
    struct stat st;
    return ::lstat(to_bytes(path).c_str(), &st) == 0;
}

std::unique_ptr<InputFile> PosixSystem::open_contents(std::u16string_view path, int flags) {
    // A file of the directory the walk is listing opens relative to it.
    const auto at = walk_.inside_listed(path);
    struct stat st;
    const bool walked = at && at->walked_regular && (flags & O_NOFOLLOW);
    std::string p;
    int fd = -1;
    if (at) {
        fd = open_regular(at->name, flags, 0, at->dirfd, &st, walked);
    } else {
        p = to_bytes(path);
        fd = open_regular(p, flags, 0, AT_FDCWD, &st);
    }
    if (fd >= 0) return opened_input(fd, st, walked ? &*at : nullptr);
    if (errno != ENOENT) return nullptr;
    if (at) p = to_bytes(path);
    const auto sp = split_stream_path(p);
    if (!sp) return nullptr;
    if (sp->stream.empty()) {  // "file::$DATA" is the file itself
        const int main_fd = open_regular(sp->file, flags);
        return main_fd >= 0 ? std::make_unique<FdInput>(main_fd) : nullptr;
    }
    auto value = read_stream(*sp);
    if (!value) return nullptr;
    return std::make_unique<MemoryInput>(std::move(*value));
}

std::unique_ptr<InputFile> PosixSystem::open_read(std::u16string_view path, bool) {
    return open_contents(path, O_RDONLY);
}

std::unique_ptr<InputFile> PosixSystem::open_entry(std::u16string_view path, bool) {
    return open_contents(path, O_RDONLY | O_NOFOLLOW);
}

std::optional<std::u16string> PosixSystem::link_target(std::u16string_view path) {
    const std::string p = strip_trailing_separators(to_bytes(path));
    const auto at = walk_.inside_listed(p);
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n =
            at ? ::readlinkat(at->dirfd, at->name.c_str(), target.data(), target.size())
               : ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0) return std::nullopt;
        // A target that filled the buffer may have been cut: ask again with more room.
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return from_bytes(target);
        }
        if (target.size() >= (1u << 20)) return std::nullopt;
        target.resize(target.size() * 4);
    }
}

std::unique_ptr<UpdateFile> PosixSystem::open_update(std::u16string_view path, bool create) {
    const int fd = open_regular(to_bytes(path), O_RDWR | (create ? O_CREAT : 0), 0666);
    if (fd < 0) return nullptr;
    return std::make_unique<FdUpdate>(fd);
}

std::unique_ptr<Sink> PosixSystem::open_text(std::u16string_view path, OpenMode mode) {
    const std::string p = to_bytes(path);
    const int flags = O_WRONLY | O_CREAT | (mode == OpenMode::append ? O_APPEND : O_TRUNC);
    int fd = open_regular(p, flags, 0666);
    // A character device such as /dev/null takes what is written; a pipe,
    // which would wait for a reader, stays refused.
    struct stat st;
    if (fd < 0 && errno == EINVAL && ::stat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        fd = ::open(p.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        const int status = fd >= 0 ? ::fcntl(fd, F_GETFL) : -1;
        if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    }
    if (fd < 0) return nullptr;
    return make_fd_sink(fd, true);
}

Sink& PosixSystem::standard_output() {
    return *stdout_sink_;
}
Sink& PosixSystem::standard_error() {
    return *stderr_sink_;
}

bool PosixSystem::create_directory(std::u16string_view path) {
    return ::mkdir(to_bytes(path).c_str(), 0777) == 0;
}

bool PosixSystem::delete_file(std::u16string_view path) {
    return ::unlink(to_bytes(path).c_str()) == 0;
}

bool PosixSystem::rename_file(std::u16string_view from, std::u16string_view to) {
    return ::rename(to_bytes(from).c_str(), to_bytes(to).c_str()) == 0;
}

}  // namespace platform::posix
