// The one interface through which the cataloguer reaches the operating
// system: files, directories, volumes, security, the environment, the clock
// and the console. The real backends live in posix/ and win32/; the tests
// bring an in-memory one. Nothing outside src/platform includes OS headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/path_syntax.hpp"

namespace platform {

// File times: 100-ns intervals since 1601-01-01 UTC, 0 when unknown.
using FileTicks = std::uint64_t;

// Windows attribute bits, which every backend reports.
namespace attr {
inline constexpr std::uint32_t readonly = 0x1;
inline constexpr std::uint32_t hidden = 0x2;
inline constexpr std::uint32_t system = 0x4;
inline constexpr std::uint32_t directory = 0x10;
inline constexpr std::uint32_t archive = 0x20;
inline constexpr std::uint32_t reparse_point = 0x400;
inline constexpr std::uint32_t encrypted = 0x4000;
}  // namespace attr

// An entry's times at the file system's full precision and its identity:
// what tells the same unchanged file from one that was touched or replaced.
struct PreciseFacts {
    std::int64_t modified_ns = 0;     // write time, nanoseconds since 1970-01-01 UTC
    std::int64_t change_time_ns = 0;  // last change of contents or status (ctime, ChangeTime)
    std::uint64_t device = 0;         // st_dev; the volume serial on Windows
    std::uint64_t inode = 0;          // st_ino; the 64-bit file index on Windows
    std::uint64_t links = 0;          // names the file has
};

// One entry of a directory search.
struct FindData {
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    FileTicks creation = 0;
    FileTicks access = 0;
    FileTicks write = 0;
    std::u16string name;        // long name
    std::u16string short_name;  // 8.3 name; empty when the long name is one
    // Filled by a backend whose full search learns them at no extra cost;
    // else FileSystem::precise_facts asks for them.
    std::optional<PreciseFacts> precise;
    // The entry stands for another one (a symbolic link, a junction): its
    // contents are the other's, so they are never read through it.
    bool link = false;
};

// How much a search must deliver. With names_and_kinds only the name and
// the directory and reparse-point bits are reliable, which lets a backend
// skip the per-entry status query while the walker looks for directories.
enum class SearchDetail { names_and_kinds, full };

class DirSearch {
public:
    virtual ~DirSearch() = default;
    // Fills the next entry; false when the search is exhausted.
    virtual bool next(FindData& entry) = 0;
};

// A directory a walk is inside. A backend that can reach entries relative
// to an open directory keeps it here, so that a walk never goes by a path
// that someone could redirect and is not bound by the system's path
// length; a backend that goes by paths needs nothing in it.
class DirHandle {
public:
    virtual ~DirHandle() = default;
};

// Broken-down calendar time.
struct CivilTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int weekday = 0;  // 0 = Sunday
};

struct ZoneInfo {
    std::string standard_name;  // "Eastern Standard Time", "CET", ...
    std::string daylight_name;  // empty when the zone has no daylight time
    long offset_seconds = 0;    // positive west of Greenwich
    bool daylight = false;      // the zone observes daylight time
};

struct VolumeInfo {
    std::u16string label;
    std::uint32_t serial = 0;
    std::u16string file_system;  // "NTFS", "FAT32", "EXT4", ...
    bool named_streams = false;  // the volume can carry alternate data streams
};

struct NamedStream {
    std::u16string name;  // ":name:$DATA"
    std::int64_t size = 0;
    std::uint32_t attributes = 0;
};

// The named streams of one file or directory, and whether they could be
// read: an entry that cannot be opened has none, while a listing that
// broke off is a failure the caller reports.
struct StreamListing {
    enum class Status { listed, not_opened, read_failed };
    Status status = Status::listed;
    std::vector<NamedStream> streams;
};

// What an open file says of itself at one moment. A file that someone
// writes, truncates or extends changes one of the two.
struct FileState {
    std::uint64_t size = 0;
    FileTicks change = 0;  // last change of contents or status; 0 when none is kept
    friend bool operator==(const FileState&, const FileState&) = default;
};

// Part of an open file mapped into memory, read-only; unmapped when it
// goes. A page that vanishes while mapped (someone truncated the file)
// reads as zeros from then on instead of ending the process.
class MappedBytes {
public:
    virtual ~MappedBytes() = default;
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    // Some of its pages vanished: the bytes read are not the file's.
    virtual bool damaged() const = 0;
    // Makes the n bytes from `offset` ready to read in one go, sparing the
    // hashing a fault every few pages; two threads may each ready a part.
    virtual void load(std::size_t /*offset*/, std::size_t /*n*/) const {}

protected:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// A file or named stream open for reading.
class InputFile {
public:
    virtual ~InputFile() = default;
    // Bytes read, 0 at the end, -1 on a read error.
    virtual long long read(void* buffer, std::size_t size) = 0;
    // Absolute position from the start of the file.
    virtual bool seek(std::uint64_t offset) = 0;
    // Bytes read from `offset`, as read counts them; where the system
    // reads at a place in one call, the position is left where it was.
    virtual long long read_at(void* buffer, std::size_t size, std::uint64_t offset) {
        return seek(offset) ? read(buffer, size) : -1;
    }
    // The state of the open file itself (not of whatever now bears its
    // name); nothing when the system cannot tell.
    virtual std::optional<FileState> state() = 0;
    // The `size` bytes from `offset`, which lie within the size the state
    // gave, mapped for reading without a copy; nothing where the system
    // does not map this file, which is then read.
    virtual std::unique_ptr<MappedBytes> map(std::uint64_t /*offset*/, std::size_t /*size*/) {
        return nullptr;
    }

    // A reader may deliver less than asked without being at the end, so
    // this reads until the buffer is whole, the file ends, or a read
    // fails. The bytes delivered, or -1 on a read error.
    long long read_whole(void* buffer, std::size_t size) {
        auto* out = static_cast<unsigned char*>(buffer);
        std::size_t done = 0;
        while (done < size) {
            const long long got = read(out + done, size - done);
            if (got < 0) return -1;
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return static_cast<long long>(done);
    }
};

// An entry's contents, made ready to be opened on another thread: what
// the open needs is taken where the walk is, the open is done by open().
class PendingOpen {
public:
    virtual ~PendingOpen() = default;
    // Called once, on any thread; nothing when the entry cannot be opened.
    virtual std::unique_ptr<InputFile> open() = 0;
    // The file was read already: opening and reading it costs no call.
    virtual bool in_memory() const { return false; }
};

// A pending open done at once, where the system offers no other.
class OpenedNow final : public PendingOpen {
public:
    explicit OpenedNow(std::unique_ptr<InputFile> file) : file_(std::move(file)) {}
    std::unique_ptr<InputFile> open() override { return std::move(file_); }

private:
    std::unique_ptr<InputFile> file_;
};

// A file read whole before it was asked for, with its state when it was
// opened and after the read. The bytes are kept by whoever made it.
struct ReadContents {
    virtual ~ReadContents() = default;
    std::string_view bytes;
    FileState opened;
    FileState after;
};

// A file read already, as an open file gives it: its state is the one found
// at the open until every byte has been delivered, then the one found after
// the read, as a file opened now answers before and after it is read.
class ReadInput final : public InputFile {
public:
    explicit ReadInput(std::shared_ptr<const ReadContents> contents)
        : contents_(std::move(contents)) {}
    long long read(void* buffer, std::size_t size) override {
        const std::string_view bytes = contents_->bytes;
        const std::size_t from = position_ < bytes.size() ? position_ : bytes.size();
        const std::size_t n = size < bytes.size() - from ? size : bytes.size() - from;
        bytes.copy(static_cast<char*>(buffer), n, from);
        position_ = from + n;
        if (position_ == bytes.size()) delivered_ = true;
        return static_cast<long long>(n);
    }
    bool seek(std::uint64_t offset) override {
        position_ = offset < contents_->bytes.size() ? static_cast<std::size_t>(offset)
                                                     : contents_->bytes.size();
        return true;
    }
    std::optional<FileState> state() override {
        return delivered_ ? contents_->after : contents_->opened;
    }

private:
    std::shared_ptr<const ReadContents> contents_;
    std::size_t position_ = 0;
    bool delivered_ = false;  // every byte has been read
};

// A pending open of a file read already.
class ReadAlready final : public PendingOpen {
public:
    explicit ReadAlready(std::shared_ptr<const ReadContents> contents)
        : contents_(std::move(contents)) {}
    std::unique_ptr<InputFile> open() override {
        return std::make_unique<ReadInput>(std::move(contents_));
    }
    bool in_memory() const override { return true; }

private:
    std::shared_ptr<const ReadContents> contents_;
};

// A file open for reading and writing in place (log clean-up, sort).
class UpdateFile : public InputFile {
public:
    virtual std::optional<std::uint64_t> size() = 0;
    virtual bool write(const void* data, std::size_t size) = 0;
    virtual bool set_end(std::uint64_t offset) = 0;
};

// The raw end of an output stream; buffering, formatting and line ends are
// the caller's (see core/out_stream.hpp).
class Sink {
public:
    virtual ~Sink() = default;
    // Writes every byte as it is, or reports failure.
    virtual bool write(const char* data, std::size_t size) = 0;
    // Its lines end with CR LF, as a Windows text file or standard stream's
    // do: the stream over it writes each "\n" of its text as "\r\n", while
    // bytes it must keep exact (a CSV row) go out unchanged.
    virtual bool lines_end_crlf() const { return false; }
    virtual bool flush() { return true; }
    virtual bool close() { return true; }
    // A person is watching it: the caller flushes at line ends.
    virtual bool is_terminal() const { return false; }
    // A character device (/dev/null, NUL): nothing written to it can be
    // read back.
    virtual bool is_device() const { return false; }
};

enum class OpenMode { write, append };

enum class DialogKind { output_file, input_file };

// Result of looking up a file's owner.
struct OwnerLookup {
    enum class Status { ok, no_descriptor, lookup_failed };
    Status status = Status::no_descriptor;
    std::string name;
};

inline constexpr std::uint32_t last_access_not_found = 0xFFFFFFFFu;

// The facilities, one interface each, so that a piece of code or a test
// double can name the part of the system it is about. The core holds them
// all together as one System.

// Files and directories: searches, entry data, contents, named streams,
// text files and the standard streams.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual const PathSyntax& syntax() const = 0;

    // ----- directory search and entry data -----
    // Starts a search for a pattern (directory + mask, or a plain path);
    // fills the first entry. Null when nothing matches or the directory
    // cannot be read. Windows mask rules; "." and ".." come first.
    virtual std::unique_ptr<DirSearch> find_first(std::u16string_view pattern, FindData& first,
                                                  SearchDetail detail) = 0;
    // A start directory, as the user named it (links in its path count).
    // Null when it cannot be opened.
    virtual std::unique_ptr<DirHandle> open_directory(std::u16string_view) {
        return std::make_unique<DirHandle>();
    }
    // A subdirectory of an open directory, never reached through a link:
    // null when the entry is no longer a directory of its own.
    virtual std::unique_ptr<DirHandle> open_subdirectory(DirHandle&, std::u16string_view) {
        return std::make_unique<DirHandle>();
    }
    // The file system an open directory lies on: the device on POSIX, the
    // volume serial on Windows; nothing when the system cannot tell. `path`
    // is the directory's path, for backends that go by paths.
    virtual std::optional<std::uint64_t> directory_file_system(DirHandle&,
                                                               std::u16string_view /*path*/) {
        return std::nullopt;
    }
    // The walk will not enter this subdirectory of an open directory (it is
    // pruned, or past the depth asked for): a backend that reads ahead of
    // the walk lets its read go.
    virtual void pass_by_subdirectory(DirHandle&, std::u16string_view /*name*/) {}
    // find_first within an open directory; `path` is that directory's
    // path, ending in a separator, for backends that search by path.
    virtual std::unique_ptr<DirSearch> search_directory(DirHandle&, std::u16string_view path,
                                                        std::u16string_view mask, FindData& first,
                                                        SearchDetail detail) {
        std::u16string pattern(path);
        pattern += mask;
        return find_first(pattern, first, detail);
    }
    // Why the last open_directory, open_subdirectory, search_directory or
    // find_first gave nothing: true when the directory is there and refuses
    // to be read (no permission, an I/O error); false when it has gone, is
    // no longer a directory of its own, or holds nothing that matches.
    virtual bool last_search_refused() { return false; }
    // The entry's precise facts: those its search delivered, else asked of
    // the entry itself (never through a link); nothing when the system
    // cannot say.
    virtual std::optional<PreciseFacts> precise_facts(std::u16string_view /*path*/,
                                                      const FindData& found) {
        return found.precise;
    }
    virtual std::optional<std::uint32_t> get_attributes(std::u16string_view path) = 0;
    virtual bool set_attributes(std::u16string_view path, std::uint32_t attributes) = 0;
    // The three times of a file, directory or stream, opened as an object.
    virtual bool get_times(std::u16string_view path, FileTicks& creation, FileTicks& access,
                           FileTicks& write) = 0;
    virtual bool set_times(std::u16string_view path, FileTicks creation, FileTicks access,
                           FileTicks write) = 0;
    virtual bool is_directory(std::u16string_view path) = 0;
    virtual bool exists(std::u16string_view path) = 0;

    // ----- contents -----
    // open_read, open_update and open_text open regular files (and named
    // streams) only, whether the file is being catalogued or is one the
    // program keeps (INI, log, memo, listing, label file): a pipe or a
    // device is refused as a file that cannot be opened, without waiting
    // and, where the system can tell beforehand, without being opened.
    // open_text alone also opens a character device (/dev/null, NUL), the
    // usual way to discard what is written; nothing is ever read from one.
    // Opens a file or a named stream ("file:name") for sequential reading.
    // The fallback route is the runtime's plain open, which shares more.
    virtual std::unique_ptr<InputFile> open_read(std::u16string_view path, bool fallback_route) = 0;
    // The same for the contents of an entry being catalogued, except that
    // a link is never followed: an entry that is one is refused as a file
    // that cannot be opened, wherever it points.
    virtual std::unique_ptr<InputFile> open_entry(std::u16string_view path,
                                                  bool fallback_route) = 0;
    // Whether a file opened here may be read, and the interrupt asked
    // after, on another thread while this one goes on: true where reads
    // and the interrupt flag are the system's own.
    virtual bool reads_on_other_threads() const { return false; }
    // How many files the program may hold open at once for its own reads,
    // beside the listing, the log and the folders of the walk.
    virtual std::size_t files_open_budget() const { return 256; }
    // open_entry of a file the walk's current search delivered, made
    // ready here and done by the thread that reads it (where
    // reads_on_other_threads). Opened at once unless the system can do
    // better; the fallback route is tried as digest_file tries it.
    virtual std::unique_ptr<PendingOpen> prepare_entry_open(std::u16string_view path) {
        auto file = open_entry(path, false);
        if (!file) file = open_entry(path, true);
        return std::make_unique<OpenedNow>(std::move(file));
    }
    // For a walk that reads every regular file it lists: files of at most
    // `up_to` bytes may be read as their directory is listed, and
    // prepare_entry_open then hands over those bytes, with the file's
    // state when it was opened and after the read. 0 reads none so.
    virtual void read_small_files_when_listed(std::size_t up_to) { (void)up_to; }
    // What a link points to, as it is written; nothing for an entry that
    // is not a link or whose link cannot be read.
    virtual std::optional<std::u16string> link_target(std::u16string_view path) = 0;
    virtual std::unique_ptr<UpdateFile> open_update(std::u16string_view path, bool create) = 0;
    virtual StreamListing named_streams(std::u16string_view path) = 0;

    // ----- text files and standard streams -----
    virtual std::unique_ptr<Sink> open_text(std::u16string_view path, OpenMode mode) = 0;
    virtual Sink& standard_output() = 0;
    virtual Sink& standard_error() = 0;
    virtual bool create_directory(std::u16string_view path) = 0;
    virtual bool delete_file(std::u16string_view path) = 0;
    // Puts a file in the place of another in one step, replacing it; the
    // sort replaces a listing only with a finished sorted copy this way.
    virtual bool rename_file(std::u16string_view from, std::u16string_view to) = 0;
};

// Volumes and the security around them.
class Volumes {
public:
    virtual ~Volumes() = default;

    virtual std::optional<VolumeInfo> volume_info(std::u16string_view root) = 0;
    virtual std::optional<std::uint64_t> free_space(std::u16string_view root) = 0;
    // The last-access-update setting: 0 on, 1 off, or last_access_not_found.
    virtual std::uint32_t last_access_setting(std::u16string_view first_start_path) = 0;

    virtual bool enable_security_privilege() = 0;
    virtual bool enable_backup_privileges() = 0;
    virtual OwnerLookup owner_of(std::u16string_view path) = 0;
};

// A library loaded while the program runs, for what only some runs need
// (a database server's client), so that other runs never load it.
class SharedLibrary {
public:
    virtual ~SharedLibrary() = default;
    // The function of that name; null when the library has none.
    virtual void (*function(const char* name))() = 0;
};

// The process and its surroundings: paths, programs, the environment,
// commands and the file dialog.
class Processes {
public:
    virtual ~Processes() = default;

    // Absolute form with "." and ".." removed; nothing when impossible.
    virtual std::optional<std::u16string> full_path(std::u16string_view path) = 0;
    virtual std::u16string executable_path() = 0;
    virtual std::optional<std::u16string> current_directory() = 0;
    // Searches the program search path for name + extension.
    virtual std::optional<std::u16string> search_path(std::u16string_view name,
                                                      std::u16string_view extension) = 0;
    virtual std::optional<std::u16string> computer_name() = 0;
    virtual std::optional<std::u16string> get_env(std::u16string_view name) = 0;
    // Runs a command line through the command interpreter and waits. The
    // parts alternate: command text, then a literal argument, then text,
    // ... Each argument reaches the command as one word, quoted so that no
    // file or directory name can run a command of its own.
    virtual int run_shell(const std::vector<std::u16string>& parts) = 0;
    // Runs a program directly with a real argument vector and waits.
    virtual int spawn(std::u16string_view program, const std::vector<std::u16string>& args) = 0;
    virtual std::optional<std::u16string> choose_file(DialogKind kind) = 0;
    // Loads a shared library by its file name; null when it cannot be
    // loaded (or the system loads none).
    virtual std::unique_ptr<SharedLibrary> load_library(std::string_view /*name*/) {
        return nullptr;
    }
};

// The person at the keyboard: keys, lines, the window and the interrupt.
class Console {
public:
    virtual ~Console() = default;

    // A key is waiting (only ever true on an interactive console). From the
    // first look on, keys reach the program without Enter and without
    // echo, until a line is read or the program ends.
    virtual bool key_waiting() = 0;
    // Reads one key without echo; -1 at the end of input.
    virtual int read_key() = 0;
    // Standard input is a console a person types at, so that a wait for a
    // key is answered rather than eating piped input or stalling.
    virtual bool input_is_terminal() = 0;
    // Reads one line of standard input; false at the end of input.
    virtual bool read_line(std::string& line) = 0;
    // Rows of the console window; 0 when unknown.
    virtual int console_rows() = 0;
    // The interrupt (Ctrl+C, or a request to terminate, or the terminal
    // hanging up) has arrived since start-up. From then on a read that
    // waits (a key, a line, a slow device) gives up instead.
    virtual bool interrupted() = 0;
    virtual void install_interrupt_handler() = 0;
    // Ends early when the interrupt arrives.
    virtual void sleep_ms(unsigned milliseconds) = 0;
};

// The clock, the time zone and calendar conversions.
class Clock {
public:
    virtual ~Clock() = default;

    virtual std::int64_t now_seconds() = 0;
    // A steady count of milliseconds, for pacing what is redrawn.
    virtual std::int64_t now_milliseconds() { return now_seconds() * 1000; }
    virtual ZoneInfo zone() = 0;
    // Calendar fields of a file time, in UTC or in local time.
    virtual std::optional<CivilTime> to_utc(FileTicks ticks) = 0;
    virtual std::optional<CivilTime> to_local(FileTicks ticks) = 0;
    // Calendar fields of calendar seconds, in local time.
    virtual std::optional<CivilTime> local_calendar(std::int64_t seconds) = 0;
    // Calendar seconds of a local civil time (seconds ignored past minute).
    virtual std::optional<std::int64_t> make_local(const CivilTime& when) = 0;
};

// Text conversion between the program's UTF-16 and the platform's 8-bit
// form (UTF-8 off Windows).
class Text {
public:
    virtual ~Text() = default;

    virtual std::string narrow(std::u16string_view text) = 0;
    virtual std::u16string wide(std::string_view text) = 0;
    // The 8-bit form is UTF-8, so one character may take several bytes.
    virtual bool narrow_is_utf8() { return true; }
    // Text files and the standard streams turn each "\n" into CR LF.
    virtual bool text_lines_crlf() { return false; }
};

// Everything the core reaches the operating system through.
class System : public FileSystem,
               public Volumes,
               public Processes,
               public Console,
               public Clock,
               public Text {
public:
    ~System() override = default;
};

// File times <-> calendar seconds since 1970.
inline constexpr std::int64_t ticks_per_second = 10000000;
inline constexpr std::int64_t epoch_difference_seconds = 11644473600;  // 1601 -> 1970

// Days since 1970-01-01 of a proleptic Gregorian date. Month and day may
// lie outside their ranges and carry over linearly, as mktime lets them.
constexpr std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) {
    const std::int64_t m0 = month - 1;
    const std::int64_t carry = (m0 >= 0 ? m0 : m0 - 11) / 12;  // floor(m0 / 12)
    year += carry;
    month = m0 - carry * 12 + 1;
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace platform
