// Volumes: label, serial and file system of a root, free space, and the
// system's last-access-update setting from the registry.
#include "platform/win32/win32_internal.hpp"

namespace platform::win32 {

std::optional<VolumeInfo> Win32System::volume_info(std::u16string_view root) {
    wchar_t label[MAX_PATH + 1] = {};
    wchar_t file_system[MAX_PATH + 1] = {};
    DWORD serial = 0, max_component = 0, flags = 0;
    if (!::GetVolumeInformationW(to_w(root).c_str(), label, MAX_PATH + 1, &serial, &max_component,
                                 &flags, file_system, MAX_PATH + 1))
        return std::nullopt;
    VolumeInfo info;
    info.label = from_w(label);
    info.serial = serial;
    info.file_system = from_w(file_system);
    info.named_streams = (flags & FILE_NAMED_STREAMS) != 0;
    return info;
}

std::optional<std::uint64_t> Win32System::free_space(std::u16string_view root) {
    ULARGE_INTEGER total_free;
    if (!::GetDiskFreeSpaceExW(to_w(root).c_str(), nullptr, nullptr, &total_free))
        return std::nullopt;
    return total_free.QuadPart;
}

std::uint32_t Win32System::last_access_setting(std::u16string_view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem", 0,
                        KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return last_access_not_found;
    constexpr std::wstring_view wanted = L"NtfsDisableLastAccessUpdate";
    std::wstring name(8192, L'\0');
    std::vector<BYTE> data(16384);
    std::uint32_t result = last_access_not_found;
    // Every value is looked at, whatever the length of the names before
    // the one wanted, so that no ordering of the key hides it.
    for (DWORD index = 0;; ++index) {
        DWORD name_size = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, index, name.data(), &name_size, nullptr, &type,
                                        data.data(), &data_size);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            if (rc == ERROR_MORE_DATA) continue;  // a value too large to be the one wanted
            break;
        }
        if (std::wstring_view(name.data(), name_size) != wanted) continue;
        if (data_size >= 4)
            result = static_cast<std::uint32_t>(data[0]) |
                     (static_cast<std::uint32_t>(data[1]) << 8) |
                     (static_cast<std::uint32_t>(data[2]) << 16) |
                     (static_cast<std::uint32_t>(data[3]) << 24);
        break;
    }
    ::RegCloseKey(key);
    return result;
}

}  // namespace platform::win32
