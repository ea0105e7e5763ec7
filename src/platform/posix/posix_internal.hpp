// Shared pieces of the Linux backend: the System class itself (its members
// are defined in one source file per facility) and the helpers those files
// have in common. Only the backend includes this header.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace platform::posix {

// ----- names and paths -----
inline std::string to_bytes(std::u16string_view text) {
    return utf16_to_utf8_lossless(text);
}
inline std::u16string from_bytes(std::string_view bytes) {
    return utf8_to_utf16_lossless(bytes);
}
// The path without trailing separators ("/" stays "/"), so that lstat does
// not follow a link named with a trailing slash.
std::string strip_trailing_separators(std::string path);
// The last component of a path (after any trailing separators are gone).
std::string_view last_component(std::string_view path);
// "dir" + "/" + "name", for a directory part that may be empty or end in '/'.
std::string join_path(std::string_view dir, std::string_view name);

// ----- times -----
FileTicks ticks_from(std::int64_t seconds, std::uint32_t nanoseconds);

// ----- extended attributes -----
// Remembers the file systems that refuse user extended attributes, so that
// each is asked only once, and whether the kernel reads an attribute
// relative to a directory descriptor (Linux 6.13 and later), which spares
// the walk along the whole path for every entry.
class XattrSupport {
public:
    bool refused(dev_t device) const;
    void mark_refused(dev_t device);
    // A file system where some entry has been seen with user.DOSATTRIB:
    // from then on every entry on it is asked (see the walk's listing).
    bool holds_dos(dev_t device) const;
    void mark_holds_dos(dev_t device);
    bool relative_calls() const { return relative_calls_; }
    void no_relative_calls() { relative_calls_ = false; }

private:
    std::vector<dev_t> refused_;
    std::vector<dev_t> holding_;
    bool relative_calls_ = true;
};

// The whole value of an extended attribute of the entry itself (links are
// not followed); nothing when it is missing or unreadable. Sets
// `unsupported` when the file system refuses user attributes.
std::optional<std::string> read_xattr(const std::string& path, const char* name,
                                      bool* unsupported = nullptr);
// The Windows bits kept by Samba in user.DOSATTRIB, when present. The
// entry is `path`, or `name` within the open directory `dirfd` when that
// is given (the path is then only the fallback).
std::optional<std::uint32_t> read_dos_attributes(const std::string& path, dev_t device,
                                                 XattrSupport& support, int dirfd = -1,
                                                 const char* name = nullptr);
// Parses the leading "0x..." text of a DOSATTRIB value.
std::optional<std::uint32_t> parse_dos_attributes(std::string_view value);
// The value with new attribute bits, keeping whatever Samba stored after
// the text (the binary copy of the bits is patched as well when found).
std::string rewrite_dos_attributes(std::string_view value, std::uint32_t bits);

inline constexpr const char* dos_attribute_xattr = "user.DOSATTRIB";
inline constexpr std::string_view stream_prefix = "user.DosStream.";
inline constexpr std::string_view stream_suffix = ":$DATA";
// The name ends in ":$DATA" (in any case).
bool ends_with_data_suffix(std::string_view name);
// Samba keeps one terminating zero byte after a stream's contents.
void drop_stream_terminator(std::string& value);

// ----- attributes -----
// What the attribute computation needs of one entry.
struct EntryFacts {
    mode_t mode = 0;                   // file type and permission bits
    bool encrypted = false;            // STATX_ATTR_ENCRYPTED
    bool target_is_directory = false;  // for symbolic links
};
// The type, permissions and encryption of a status record (the link
// target's kind is the caller's to fill).
EntryFacts facts_of(const struct statx& st);
// The full-precision times and the identity of a status record; nothing
// for a time past what 64 bits of nanoseconds hold.
std::optional<PreciseFacts> precise_of(const struct statx& st);
// Windows bits for an entry; `name` decides the hidden bit (pass an empty
// name for "." and ".."), `dos` overrides the derived bits.
std::uint32_t compute_attributes(const EntryFacts& facts, std::string_view name,
                                 std::optional<std::uint32_t> dos);

// ----- volumes -----
// A field of /proc/self/mountinfo without its "\ooo" escapes.
std::string unescape_octal(std::string_view field);
// The serial number of a file system UUID: its first eight hex digits.
std::optional<std::uint32_t> serial_from_uuid(std::string_view uuid);
// A /dev/disk/by-label name without its "\xHH" escapes.
std::string decode_label(std::string_view name);

// The directory holding `path` when the path is too long for the system
// to take whole, opened one component at a time (O_PATH), with the last
// component in `leaf`; -1 when a component cannot be opened.
int open_long_parent(const std::string& path, std::string& leaf);

// ----- file descriptors -----
// Writes everything, retrying partial writes and interruptions.
bool write_all(int fd, const void* data, std::size_t size);
// One read, retried when a signal other than an interrupt cut it short;
// -1 on error, and -1 once the interrupt has come, so that a read that
// would wait for ever (a terminal, /proc/kmsg) lets the run end.
long long read_some(int fd, void* buffer, std::size_t size);
// Opens a path only when it names a regular file (links followed), with
// open(2) flags; mode for O_CREAT. A device may act on being opened and a
// pipe would block, so the type is checked before the open and again on
// the open handle, in case the path changed in between. -1 with errno
// (ENOENT kept, so that a named stream can be tried).
// `dirfd` is the directory a relative `path` is taken in.
// opened: what fstat told of the file once open. walked_regular: the walk
// has just seen a regular file under the name, which stands for the check
// before the open (the caller compares the identity the open found).
// The number of descriptors the process may hold (its soft limit), 1024
// when the system sets none.
std::size_t descriptor_limit();

int open_regular(const std::string& path, int flags, mode_t mode = 0, int dirfd = AT_FDCWD,
                 struct stat* opened = nullptr, bool walked_regular = false);

// ----- mapped files -----
// The `size` bytes of an open file from `offset`, mapped read-only; a page
// truncated away meanwhile reads as zeros and marks the mapping damaged.
// Nothing when the file cannot be mapped.
std::unique_ptr<MappedBytes> map_for_reading(int fd, std::uint64_t offset, std::size_t size);

// ----- signals and the terminal -----
// The interrupt (SIGINT, SIGTERM, SIGHUP) has arrived.
bool interrupt_pending();
// Puts the terminal on standard input into key mode (no line mode, no
// echo), once; false when standard input is not a terminal of ours (not
// one, or the program runs in the background).
bool enter_key_mode();
// Gives the terminal back as it was found (line editing, echo).
void leave_key_mode();

// ----- the walk's directories -----
class WalkDir;
// Bytes of the small files the walk read as it listed them, in chunks that
// the files of a directory share: a file's bytes cost no allocation of
// their own.
struct ContentsChunk {
    explicit ContentsChunk(std::size_t size) : data(new char[size]), size(size) {}
    ~ContentsChunk();  // gives its memory back to what all listings may hold
    ContentsChunk(const ContentsChunk&) = delete;
    ContentsChunk& operator=(const ContentsChunk&) = delete;
    std::unique_ptr<char[]> data;
    std::size_t size;
    std::size_t used = 0;
};
// A small regular file read whole as the walk listed it: a reader of its
// contents then needs no open of its own.
struct ListedContents : ReadContents {
    std::shared_ptr<const ContentsChunk> chunk;  // holds the bytes
};
// A name within a directory the walk holds open.
struct AtName {
    int dirfd;
    std::string name;
    // What the walk saw under the name, when it listed a regular file
    // there: the open then needs no look of its own before it.
    bool walked_regular = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The file's contents, when the walk read them as it listed it.
    std::shared_ptr<const ListedContents> contents{};
};
// The directories a walk is inside. At most `limit` of them keep a
// descriptor open, however deep the walk; the others are opened again, by
// name from their parent or by ".." from their child, and checked to be the
// very directory that was read.
// A copy of a directory's descriptor, for opens on other threads that
// may come after the walk has let its own go.
struct HeldDirectory {
    explicit HeldDirectory(int fd) : fd(fd) {}
    ~HeldDirectory() { ::close(fd); }
    HeldDirectory(const HeldDirectory&) = delete;
    HeldDirectory& operator=(const HeldDirectory&) = delete;
    const int fd;
};
class WalkAhead;
class WalkDirs {
public:
    WalkDirs();
    ~WalkDirs();
    WalkDirs(const WalkDirs&) = delete;
    WalkDirs& operator=(const WalkDirs&) = delete;
    // The directory's descriptor, opened again when needed; -1 when it is gone.
    int fd_of(WalkDir& dir);
    // A descriptor was just opened for `dir`.
    void opened(WalkDir& dir);
    // `dir` ends: its descriptor brings its parent's back cheaply.
    void closing(WalkDir& dir);
    // The directory whose entries are being listed, and its path as the
    // walk spells it, so that the entries' contents open relative to it.
    void listing(WalkDir& dir, std::u16string_view path);
    std::optional<AtName> inside_listed(const std::string& path);
    std::optional<AtName> inside_listed(std::u16string_view path);
    // A copy of the listed directory's descriptor, one for all its files.
    std::shared_ptr<HeldDirectory> held_listed();
    // The entry a search of the listed directory delivered last.
    void delivered(const WalkDir& dir, std::size_t index);
    // `path` is one of the entries delivered last, and the walk saw it
    // has no named streams.
    bool known_without_streams(std::u16string_view path);
    // The reader of directories ahead of the walk; null with one thread.
    WalkAhead* ahead();
    // Regular files of at most this many bytes are read as they are
    // listed (none for 0), by the walk and by the reader ahead.
    std::atomic<std::size_t> contents_up_to{0};

private:
    // A name of the listed directory, with what the walk saw under it.
    std::optional<AtName> at_listed(std::string name);
    std::unique_ptr<WalkAhead> ahead_;
    bool ahead_started_ = false;
    std::size_t delivered_ = 0;
    const WalkDir* delivered_dir_ = nullptr;
    // Where the last entries asked for by their records and by their
    // opens were found, plus one: the next ones are most often there.
    std::size_t next_recorded_ = 0;
    std::size_t next_opened_ = 0;
    std::vector<WalkDir*> open_;  // least recently used first
    std::size_t limit_;
    WalkDir* listed_ = nullptr;
    std::shared_ptr<HeldDirectory> held_;  // of listed_
    std::u16string listed_path16_;
    std::string listed_path_;
};

// ----- the system -----
class PosixSystem final : public System {
public:
    PosixSystem();
    ~PosixSystem() override;

    const PathSyntax& syntax() const override { return PathSyntax::posix(); }

    std::unique_ptr<DirSearch> find_first(std::u16string_view pattern, FindData& first,
                                          SearchDetail detail) override;
    std::unique_ptr<DirHandle> open_directory(std::u16string_view path) override;
    std::unique_ptr<DirHandle> open_subdirectory(DirHandle& parent,
                                                 std::u16string_view name) override;
    std::unique_ptr<DirSearch> search_directory(DirHandle& directory, std::u16string_view path,
                                                std::u16string_view mask, FindData& first,
                                                SearchDetail detail) override;
    void pass_by_subdirectory(DirHandle& parent, std::u16string_view name) override;
    std::optional<std::uint64_t> directory_file_system(DirHandle& directory,
                                                       std::u16string_view path) override;
    bool last_search_refused() override { return search_refused_; }
    std::optional<PreciseFacts> precise_facts(std::u16string_view path,
                                              const FindData& found) override;
    std::optional<std::uint32_t> get_attributes(std::u16string_view path) override;
    bool set_attributes(std::u16string_view path, std::uint32_t attributes) override;
    bool get_times(std::u16string_view path, FileTicks& creation, FileTicks& access,
                   FileTicks& write) override;
    bool set_times(std::u16string_view path, FileTicks creation, FileTicks access,
                   FileTicks write) override;
    bool is_directory(std::u16string_view path) override;
    bool exists(std::u16string_view path) override;

    std::unique_ptr<InputFile> open_read(std::u16string_view path, bool fallback_route) override;
    std::unique_ptr<InputFile> open_entry(std::u16string_view path, bool fallback_route) override;
    bool reads_on_other_threads() const override { return true; }
    std::size_t files_open_budget() const override;
    std::unique_ptr<PendingOpen> prepare_entry_open(std::u16string_view path) override;
    void read_small_files_when_listed(std::size_t up_to) override;
    std::optional<std::u16string> link_target(std::u16string_view path) override;
    std::unique_ptr<UpdateFile> open_update(std::u16string_view path, bool create) override;
    StreamListing named_streams(std::u16string_view path) override;

    std::unique_ptr<Sink> open_text(std::u16string_view path, OpenMode mode) override;
    Sink& standard_output() override;
    Sink& standard_error() override;
    bool create_directory(std::u16string_view path) override;
    bool delete_file(std::u16string_view path) override;
    bool rename_file(std::u16string_view from, std::u16string_view to) override;

    std::optional<VolumeInfo> volume_info(std::u16string_view root) override;
    std::optional<std::uint64_t> free_space(std::u16string_view root) override;
    std::uint32_t last_access_setting(std::u16string_view first_start_path) override;

    bool enable_security_privilege() override { return true; }
    bool enable_backup_privileges() override { return true; }
    OwnerLookup owner_of(std::u16string_view path) override;

    std::optional<std::u16string> full_path(std::u16string_view path) override;
    std::u16string executable_path() override;
    std::optional<std::u16string> current_directory() override;
    std::optional<std::u16string> search_path(std::u16string_view name,
                                              std::u16string_view extension) override;
    std::optional<std::u16string> computer_name() override;
    std::unique_ptr<SharedLibrary> load_library(std::string_view name) override;
    std::optional<std::u16string> get_env(std::u16string_view name) override;
    int run_shell(const std::vector<std::u16string>& parts) override;
    int spawn(std::u16string_view program, const std::vector<std::u16string>& args) override;
    std::optional<std::u16string> choose_file(DialogKind kind) override;

    bool key_waiting() override;
    bool input_is_terminal() override { return stdin_terminal_; }
    int read_key() override;
    bool read_line(std::string& line) override;
    int console_rows() override;
    bool interrupted() override;
    void install_interrupt_handler() override;
    void sleep_ms(unsigned milliseconds) override;

    std::int64_t now_seconds() override;
    std::int64_t now_milliseconds() override;
    ZoneInfo zone() override;
    std::optional<CivilTime> to_utc(FileTicks ticks) override;
    std::optional<CivilTime> to_local(FileTicks ticks) override;
    std::optional<CivilTime> local_calendar(std::int64_t seconds) override;
    std::optional<std::int64_t> make_local(const CivilTime& when) override;

    std::string narrow(std::u16string_view text) override { return to_bytes(text); }
    std::u16string wide(std::string_view text) override { return from_bytes(text); }

private:
    // open_read and open_entry: a file or a named stream, with open(2) flags.
    std::unique_ptr<InputFile> open_contents(std::u16string_view path, int flags);
    // The status of a directory just opened (fd may be -1); on failure the
    // descriptor is closed and whether it was refused is noted.
    bool opened_status(int fd, struct stat& st);

    std::unique_ptr<Sink> stdout_sink_;
    std::unique_ptr<Sink> stderr_sink_;
    XattrSupport xattrs_;
    WalkDirs walk_;
    bool search_refused_ = false;
    bool stdin_terminal_ = false;
    bool key_polled_ = false;
    std::int64_t last_key_poll_ms_ = 0;
};

// A sink over a descriptor; `owned` descriptors are closed by close().
std::unique_ptr<Sink> make_fd_sink(int fd, bool owned);

}  // namespace platform::posix
