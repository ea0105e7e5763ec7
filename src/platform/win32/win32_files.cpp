// Entry data, file contents, named streams (through the backup interface)
// and text output.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/win32/win32_internal.hpp"
// After windows.h, which it needs.
#include <winioctl.h>

#include "platform/win32/win32_rules.hpp"

namespace platform::win32 {
namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class HandleInput : public UpdateFile {
public:
    explicit HandleInput(Handle h) : h_(std::move(h)) {}

    long long read(void* buffer, std::size_t size) override {
        return read_some(h_.get(), buffer, size);
    }
    bool seek(std::uint64_t offset) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(h_.get(), to, nullptr, FILE_BEGIN) != FALSE;
    }
    // The size of the stream the handle reads; the write time stands for
    // the change, which is moved by every write.
    std::optional<FileState> state() override {
        const auto bytes = size();
        BY_HANDLE_FILE_INFORMATION info;
        if (!bytes || !::GetFileInformationByHandle(h_.get(), &info)) return std::nullopt;
        return FileState{*bytes, ticks_of(info.ftLastWriteTime)};
    }
    std::optional<std::uint64_t> size() override {
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(h_.get(), &size)) return std::nullopt;
        return static_cast<std::uint64_t>(size.QuadPart);
    }
    bool write(const void* data, std::size_t size) override {
        return write_all(h_.get(), data, size);
    }
    bool set_end(std::uint64_t offset) override {
        return seek(offset) && ::SetEndOfFile(h_.get()) != FALSE;
    }

private:
    Handle h_;
};

class HandleSink final : public Sink {
public:
    HandleSink(HANDLE h, bool owned, bool text)
        : h_(h),
          owned_(owned),
          text_(text),
          terminal_(is_console(h)),
          device_(h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_CHAR) {
    }
    ~HandleSink() override {
        if (owned_) close();
    }
    HandleSink(const HandleSink&) = delete;
    HandleSink& operator=(const HandleSink&) = delete;

    bool write(const char* data, std::size_t size) override {
        // A process started without a standard stream has nowhere to write
        // it: the text is dropped, as the runtime drops it.
        if (h_ == nullptr || h_ == INVALID_HANDLE_VALUE) return !owned_;
        return write_all(h_, data, size);
    }
    bool lines_end_crlf() const override { return text_; }
    bool close() override {
        if (!owned_ || h_ == nullptr || h_ == INVALID_HANDLE_VALUE) return true;
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(h) != FALSE;
    }
    bool is_terminal() const override { return terminal_; }
    bool is_device() const override { return device_; }

private:
    HANDLE h_;
    bool owned_;
    bool text_;
    bool terminal_;
    bool device_;
};

// Contents are read, and the program's own files kept, only on a disk: a
// console, a port or a pipe that took a file's name is refused.
bool on_disk(HANDLE h) {
    return ::GetFileType(h) == FILE_TYPE_DISK;
}

HANDLE open_existing(std::u16string_view path, DWORD access, DWORD share, DWORD flags) {
    const std::wstring p = to_w(path);
    return ::CreateFileW(p.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

// What an entry opened on itself (not through its reparse point) holds.
enum class Opened {
    contents,
    link,           // a name surrogate: its contents are another entry's
    other_reparse,  // deduplicated, in the cloud: its file system supplies the contents
};

Opened opened_kind(HANDLE h) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) {
        if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return Opened::contents;
        return IsReparseTagNameSurrogate(tag.ReparseTag) ? Opened::link : Opened::other_reparse;
    }
    // A system that cannot tell the tag: an entry that may be a link is not read.
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return Opened::contents;
    return Opened::link;
}

}  // namespace

bool write_all(HANDLE h, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(h, p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

long long read_some(HANDLE h, void* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(h, buffer, want, &got, nullptr)) {
        // The writing end of a pipe has gone: that is the end of the input.
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return got;
}

bool is_console(HANDLE h) {
    DWORD mode;
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != FALSE;
}

std::unique_ptr<Sink> make_handle_sink(HANDLE h, bool owned, bool text) {
    return std::make_unique<HandleSink>(h, owned, text);
}

std::optional<std::uint32_t> Win32System::get_attributes(std::u16string_view path) {
    const DWORD a = ::GetFileAttributesW(to_w(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return a;
}

bool Win32System::set_attributes(std::u16string_view path, std::uint32_t attributes) {
    // Only these bits can be set; the others describe what the entry is.
    constexpr DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD bits = attributes & settable;
    if (bits == 0) bits = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesW(to_w(path).c_str(), bits) != FALSE;
}

bool Win32System::get_times(std::u16string_view path, FileTicks& creation, FileTicks& access,
                            FileTicks& write) {
    // Attribute access only, shared with everybody: a file that another
    // program holds open still tells its times, and nothing is read.
    use_ansi_file_apis();
    Handle h(open_existing(path, FILE_READ_ATTRIBUTES, share_all, FILE_FLAG_BACKUP_SEMANTICS));
    if (!h.valid()) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h.get(), &info)) return false;
    creation = ticks_of(info.ftCreationTime);
    access = ticks_of(info.ftLastAccessTime);
    write = ticks_of(info.ftLastWriteTime);
    return true;
}

// The volume serial of the directory itself, never through a reparse point.
std::optional<std::uint64_t> Win32System::directory_file_system(DirHandle&,
                                                                std::u16string_view path) {
    use_ansi_file_apis();
    Handle h(open_existing(path, FILE_READ_ATTRIBUTES, share_all,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.valid() || !::GetFileInformationByHandle(h.get(), &info)) return std::nullopt;
    return info.dwVolumeSerialNumber;
}

std::optional<PreciseFacts> Win32System::precise_facts(std::u16string_view path,
                                                       const FindData& found) {
    if (found.precise) return found.precise;
    // A search tells none of these: the entry itself is opened, for its
    // attributes only and never through a reparse point, so a link gives
    // its own.
    use_ansi_file_apis();
    Handle h(open_existing(path, FILE_READ_ATTRIBUTES, share_all,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!h.valid()) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandle(h.get(), &info) ||
        !::GetFileInformationByHandleEx(h.get(), FileBasicInfo, &basic, sizeof basic))
        return std::nullopt;
    // 100-ns ticks since 1601 as nanoseconds since 1970; a time 64 bits of
    // nanoseconds cannot hold (before 1677, after 2262) is none.
    constexpr std::int64_t ticks_to_1970 = 116444736000000000LL;
    constexpr std::int64_t reach = std::numeric_limits<std::int64_t>::max() / 100;
    const auto nanoseconds = [](LARGE_INTEGER ticks) -> std::optional<std::int64_t> {
        if (ticks.QuadPart > ticks_to_1970 + reach || ticks.QuadPart < ticks_to_1970 - reach)
            return std::nullopt;
        return (ticks.QuadPart - ticks_to_1970) * 100;
    };
    const auto modified = nanoseconds(basic.LastWriteTime);
    const auto changed = nanoseconds(basic.ChangeTime);
    if (!modified || !changed) return std::nullopt;
    PreciseFacts facts;
    facts.modified_ns = *modified;
    facts.change_time_ns = *changed;
    facts.device = info.dwVolumeSerialNumber;
    facts.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.links = info.nNumberOfLinks;
    return facts;
}

bool Win32System::set_times(std::u16string_view path, FileTicks creation, FileTicks access,
                            FileTicks write) {
    Handle h(open_existing(path, FILE_WRITE_ATTRIBUTES, share_all,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!h.valid()) return false;
    // A time of 0 is one the file system did not give: it stays as it is.
    const FILETIME c = filetime_of(creation), a = filetime_of(access), w = filetime_of(write);
    const bool ok = ::SetFileTime(h.get(), creation ? &c : nullptr, access ? &a : nullptr,
                                  write ? &w : nullptr) != FALSE;
    return h.close() && ok;
}

bool Win32System::is_directory(std::u16string_view path) {
    const DWORD a = ::GetFileAttributesW(to_w(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32System::exists(std::u16string_view path) {
    return ::GetFileAttributesW(to_w(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::unique_ptr<InputFile> Win32System::open_read(std::u16string_view path, bool fallback_route) {
    return open_routes(path, fallback_route, false);
}

std::unique_ptr<InputFile> Win32System::open_entry(std::u16string_view path, bool fallback_route) {
    return open_routes(path, fallback_route, true);
}

std::unique_ptr<InputFile> Win32System::open_routes(std::u16string_view path, bool fallback_route,
                                                    bool entry) {
    if (fallback_route) return open_input(path, true, entry);
    // The backup-semantics route is tried under the ANSI code page and,
    // when refused, once more under the OEM one; ANSI is put back after,
    // because searches and time queries expect it.
    use_ansi_file_apis();
    if (auto file = open_input(path, false, entry)) return file;
    ::SetFileApisToOEM();
    auto file = open_input(path, false, entry);
    use_ansi_file_apis();
    return file;
}

std::unique_ptr<InputFile> Win32System::open_input(std::u16string_view path, bool fallback_route,
                                                   bool entry) {
    // An entry is opened on itself first, so that a link is seen as one
    // rather than followed.
    const DWORD own = entry ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
    HANDLE h;
    if (fallback_route) {
        // The runtime's plain open: read access that tolerates writers.
        h = open_existing(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | own);
    } else {
        // Backup semantics read what the backup privilege allows; sharing
        // reads only, so a file being written is refused, not read half.
        h = open_existing(path, GENERIC_READ, FILE_SHARE_READ,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN |
                              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | own);
    }
    Handle handle(h);
    if (!handle.valid() || !on_disk(handle.get())) return nullptr;
    if (entry) {
        switch (opened_kind(handle.get())) {
            case Opened::contents:
                break;
            case Opened::link:
                return nullptr;
            case Opened::other_reparse:
                handle.close();
                return open_input(path, fallback_route, false);
        }
    }
    return std::make_unique<HandleInput>(std::move(handle));
}

std::optional<std::u16string> Win32System::link_target(std::u16string_view path) {
    Handle h(open_existing(path, FILE_READ_ATTRIBUTES, share_all,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!h.valid()) return std::nullopt;
    std::vector<unsigned char> data(16 * 1024);  // the largest reparse data there is
    DWORD got = 0;
    if (!::DeviceIoControl(h.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                           static_cast<DWORD>(data.size()), &got, nullptr))
        return std::nullopt;
    return reparse_link_target(data.data(), got);
}

std::unique_ptr<UpdateFile> Win32System::open_update(std::u16string_view path, bool create) {
    const std::wstring p = to_w(path);
    Handle h(::CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid() || !on_disk(h.get())) return nullptr;
    return std::make_unique<HandleInput>(std::move(h));
}

StreamListing Win32System::named_streams(std::u16string_view path) {
    StreamListing result;
    Handle h(open_existing(path, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_BACKUP_SEMANTICS));
    if (!h.valid()) {
        result.status = StreamListing::Status::not_opened;
        return result;
    }
    // A system without the backup interface (Wine) refuses the very first
    // read: that is a failure to report, not an entry without streams.
    const auto broke_off = [&result] { result.status = StreamListing::Status::read_failed; };
    LPVOID context = nullptr;
    unsigned char header[stream_header_size];
    std::wstring name;
    for (;;) {
        DWORD got = 0;
        if (!::BackupRead(h.get(), header, static_cast<DWORD>(stream_header_size), &got, FALSE,
                          TRUE, &context)) {
            broke_off();
            break;
        }
        if (got == 0) break;  // the last stream has been read
        if (got < stream_header_size) {
            broke_off();
            break;
        }
        const StreamHeader parsed = parse_stream_header(header);
        const std::uint32_t name_bytes = parsed.name_bytes;
        const std::int64_t size = parsed.size;
        if (name_bytes > 65536) {  // no stream name is that long: a damaged header
            broke_off();
            break;
        }
        if (name_bytes > 0) {
            name.assign(name_bytes / 2 + 1, L'\0');
            DWORD name_got = 0;
            if (!::BackupRead(h.get(), reinterpret_cast<LPBYTE>(name.data()), name_bytes, &name_got,
                              FALSE, TRUE, &context) ||
                name_got != name_bytes) {
                broke_off();
                break;
            }
            NamedStream stream;
            stream.name = from_w(name.data(), name_bytes / 2);
            stream.size = size;
            stream.attributes = parsed.attributes;
            result.streams.push_back(std::move(stream));
        }
        if (size > 0) {
            // Stops at the end of this stream's data, so the next read
            // delivers the next header.
            DWORD low = 0, high = 0;
            ::BackupSeek(h.get(), 0xFFFFFFFFu, 0x7FFFFFFFu, &low, &high, &context);
        }
    }
    if (context) {
        DWORD got = 0;
        ::BackupRead(h.get(), nullptr, 0, &got, TRUE, FALSE, &context);
    }
    return result;
}

std::unique_ptr<Sink> Win32System::open_text(std::u16string_view path, OpenMode mode) {
    const std::wstring p = to_w(path);
    const bool append = mode == OpenMode::append;
    // Appending through FILE_APPEND_DATA puts every write at the end, as
    // the runtime's "a+" does; "w" empties the file.
    const DWORD access = append ? (FILE_APPEND_DATA | SYNCHRONIZE) : GENERIC_WRITE;
    const HANDLE h =
        ::CreateFileW(p.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    // A character device such as NUL takes what is written (NUL discards
    // it); a pipe that took the name is refused.
    if (!on_disk(h) && ::GetFileType(h) != FILE_TYPE_CHAR) {
        ::CloseHandle(h);
        return nullptr;
    }
    return make_handle_sink(h, true, true);
}

bool Win32System::create_directory(std::u16string_view path) {
    return ::CreateDirectoryW(to_w(path).c_str(), nullptr) != FALSE;
}

bool Win32System::delete_file(std::u16string_view path) {
    return ::DeleteFileW(to_w(path).c_str()) != FALSE;
}

bool Win32System::rename_file(std::u16string_view from, std::u16string_view to) {
    return ::MoveFileExW(to_w(from).c_str(), to_w(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace platform::win32
