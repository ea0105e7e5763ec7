// Directory searches: the system's own search, which already has the
// Windows mask rules and gives "." and ".." first except at a volume root.
#include "platform/win32/win32_internal.hpp"

namespace platform::win32 {
namespace {

void fill(const WIN32_FIND_DATAW& found, FindData& out) {
    out.attributes = found.dwFileAttributes;
    out.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    out.creation = ticks_of(found.ftCreationTime);
    out.access = ticks_of(found.ftLastAccessTime);
    out.write = ticks_of(found.ftLastWriteTime);
    out.name = from_w(found.cFileName);
    out.short_name = from_w(found.cAlternateFileName);
    // With the reparse-point bit the search tells the tag: a symbolic link
    // or a junction names another entry; a deduplicated file does not.
    out.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
               IsReparseTagNameSurrogate(found.dwReserved0);
}

class Win32Search final : public DirSearch {
public:
    explicit Win32Search(HANDLE h) : h_(h) {}
    ~Win32Search() override { close(); }
    Win32Search(const Win32Search&) = delete;
    Win32Search& operator=(const Win32Search&) = delete;

    bool next(FindData& entry) override {
        if (h_ == INVALID_HANDLE_VALUE) return false;
        use_ansi_file_apis();
        WIN32_FIND_DATAW found;
        if (!::FindNextFileW(h_, &found)) {
            close();  // exhausted: give the handle back early
            return false;
        }
        fill(found, entry);
        return true;
    }

private:
    void close() {
        if (h_ != INVALID_HANDLE_VALUE) ::FindClose(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    HANDLE h_;
};

}  // namespace

std::unique_ptr<DirSearch> Win32System::find_first(std::u16string_view pattern, FindData& first,
                                                   SearchDetail detail) {
    search_refused_ = false;
    use_ansi_file_apis();
    const std::wstring p = to_w(pattern);
    WIN32_FIND_DATAW found;
    // While the walker only looks for directories the short names are not
    // needed, and the basic level with large fetches is much quicker.
    const bool basic = detail == SearchDetail::names_and_kinds;
    HANDLE h =
        ::FindFirstFileExW(p.c_str(), basic ? FindExInfoBasic : FindExInfoStandard, &found,
                           FindExSearchNameMatch, nullptr, basic ? FIND_FIRST_EX_LARGE_FETCH : 0);
    if (h == INVALID_HANDLE_VALUE && basic && ::GetLastError() == ERROR_INVALID_PARAMETER)
        h = ::FindFirstFileW(p.c_str(), &found);  // systems without the basic level
    if (h == INVALID_HANDLE_VALUE) {
        // Gone, not a directory, or nothing that matches; anything else
        // (no access, a failing disk or share) is a directory that refuses.
        const DWORD error = ::GetLastError();
        search_refused_ = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
                          error != ERROR_NO_MORE_FILES && error != ERROR_DIRECTORY &&
                          error != ERROR_INVALID_NAME;
        return nullptr;
    }
    first = FindData{};
    fill(found, first);
    return std::make_unique<Win32Search>(h);
}

}  // namespace platform::win32
