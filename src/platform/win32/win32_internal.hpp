// Shared pieces of the Windows backend: the System class itself (its
// members are defined in one source file per facility) and the helpers
// those files have in common. Only the backend includes this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace platform::win32 {

// ----- wide texts -----
// UTF-16 in the program and in the API alike: only the element type differs.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows wide character is UTF-16");

inline std::wstring to_w(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string from_w(const wchar_t* text, std::size_t size) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), size);
}
inline std::u16string from_w(const wchar_t* text) {
    return from_w(text, std::char_traits<wchar_t>::length(text));
}

// Runs an API call that fills a wide buffer and answers the length written,
// or the size it needs when the buffer is too small (0 on failure); grows
// the buffer until the text fits.
template <typename Call>
std::optional<std::u16string> fill_wide(Call call, std::size_t first_size = 260) {
    std::wstring buffer(first_size, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return from_w(buffer.data(), n);
        buffer.assign(static_cast<std::size_t>(n) + 1, L'\0');
    }
    return std::nullopt;
}

// The ANSI code page form of a wide text and back.
std::string ansi_of(std::u16string_view text);
std::u16string wide_of_ansi(std::string_view text);

// ----- code pages -----
// Searches and time queries run with the file functions on the ANSI code
// page; only a refused open for reading switches to OEM for a moment.
inline void use_ansi_file_apis() {
    ::SetFileApisToANSI();
}

// ----- times -----
inline FileTicks ticks_of(const FILETIME& ft) {
    return (static_cast<FileTicks>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME filetime_of(FileTicks ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// ----- handles -----
// Closes a handle when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = other.h_;
            other.h_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    bool close() {
        if (!valid()) return true;
        const BOOL ok = ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }
    void reset() { close(); }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Writes every byte, retrying partial writes.
bool write_all(HANDLE h, const void* data, std::size_t size);
// One read; -1 on an error.
long long read_some(HANDLE h, void* buffer, std::size_t size);

// A handle speaks to a console (not a file, a pipe or nothing).
bool is_console(HANDLE h);

// A sink over a handle. Text sinks write each line end as CR LF, the way
// the runtime's text mode does; `owned` handles are closed by close().
std::unique_ptr<Sink> make_handle_sink(HANDLE h, bool owned, bool text);

// ----- privileges -----
// Enables the named privileges in the process token; false when the token
// cannot be opened or a name is unknown. Whether the account holds them is
// not checked: without them the calls that need them fail on their own.
bool enable_privileges(std::initializer_list<const wchar_t*> names, DWORD token_access,
                       bool require_success);

// ----- the system -----
class Win32System final : public System {
public:
    Win32System();
    ~Win32System() override;

    const PathSyntax& syntax() const override { return PathSyntax::windows(); }

    std::unique_ptr<DirSearch> find_first(std::u16string_view pattern, FindData& first,
                                          SearchDetail detail) override;
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

    bool enable_security_privilege() override;
    bool enable_backup_privileges() override;
    OwnerLookup owner_of(std::u16string_view path) override;

    std::optional<std::u16string> full_path(std::u16string_view path) override;
    std::u16string executable_path() override;
    std::optional<std::u16string> current_directory() override;
    std::optional<std::u16string> search_path(std::u16string_view name,
                                              std::u16string_view extension) override;
    std::optional<std::u16string> computer_name() override;
    std::optional<std::u16string> get_env(std::u16string_view name) override;
    int run_shell(const std::vector<std::u16string>& parts) override;
    int spawn(std::u16string_view program, const std::vector<std::u16string>& args) override;
    std::optional<std::u16string> choose_file(DialogKind kind) override;

    bool key_waiting() override;
    bool input_is_terminal() override { return stdin_console_; }
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

    std::string narrow(std::u16string_view text) override { return ansi_of(text); }
    std::u16string wide(std::string_view text) override { return wide_of_ansi(text); }
    bool narrow_is_utf8() override { return GetACP() == CP_UTF8; }
    bool text_lines_crlf() override { return true; }

private:
    // open_read, or with `entry` open_entry.
    std::unique_ptr<InputFile> open_routes(std::u16string_view path, bool fallback_route,
                                           bool entry);
    // One attempt of open_routes, without the code-page retry.
    std::unique_ptr<InputFile> open_input(std::u16string_view path, bool fallback_route,
                                          bool entry);

    std::unique_ptr<Sink> stdout_sink_;
    std::unique_ptr<Sink> stderr_sink_;
    bool search_refused_ = false;
    bool stdin_console_ = false;
    bool key_polled_ = false;
    ULONGLONG last_key_poll_ms_ = 0;
};

}  // namespace platform::win32
