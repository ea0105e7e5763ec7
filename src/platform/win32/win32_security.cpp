// Privileges and file owners.
#include "platform/win32/win32_internal.hpp"

namespace platform::win32 {

bool enable_privileges(std::initializer_list<const wchar_t*> names, DWORD token_access,
                       bool require_success) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), token_access, &raw)) return false;
    Handle token(raw);
    std::vector<BYTE> buffer(sizeof(TOKEN_PRIVILEGES) + names.size() * sizeof(LUID_AND_ATTRIBUTES));
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    privileges->PrivilegeCount = 0;
    for (const wchar_t* name : names) {
        LUID luid;
        if (!::LookupPrivilegeValueW(nullptr, name, &luid)) return false;
        LUID_AND_ATTRIBUTES& entry = privileges->Privileges[privileges->PrivilegeCount++];
        entry.Luid = luid;
        entry.Attributes = SE_PRIVILEGE_ENABLED;
    }
    ::SetLastError(ERROR_SUCCESS);
    const BOOL adjusted =
        ::AdjustTokenPrivileges(token.get(), FALSE, privileges, 0, nullptr, nullptr);
    if (!require_success) return true;
    // Success with ERROR_NOT_ALL_ASSIGNED means the account lacks one.
    return adjusted && ::GetLastError() == ERROR_SUCCESS;
}

bool Win32System::enable_security_privilege() {
    return enable_privileges({L"SeSecurityPrivilege"},
                             TOKEN_ADJUST_PRIVILEGES | TOKEN_ADJUST_DEFAULT | TOKEN_QUERY, true);
}

bool Win32System::enable_backup_privileges() {
    return enable_privileges({L"SeBackupPrivilege", L"SeRestorePrivilege"},
                             TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, false);
}

OwnerLookup Win32System::owner_of(std::u16string_view path) {
    OwnerLookup result;  // no_descriptor
    const std::wstring p = to_w(path);
    // Only the owner is asked for: the system list would need the security
    // privilege, and without it every owner would be unknown.
    constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION;
    std::vector<BYTE> descriptor(8096);
    DWORD need = 0;
    if (!::GetFileSecurityW(p.c_str(), wanted, descriptor.data(),
                            static_cast<DWORD>(descriptor.size()), &need)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || need == 0) return result;
        descriptor.resize(need);
        if (!::GetFileSecurityW(p.c_str(), wanted, descriptor.data(), need, &need)) return result;
    }
    const auto sd = static_cast<PSECURITY_DESCRIPTOR>(descriptor.data());
    if (!::IsValidSecurityDescriptor(sd)) return result;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(sd, &owner, &defaulted) || owner == nullptr) return result;

    DWORD name_size = 60, domain_size = 60;
    std::wstring name(name_size, L'\0'), domain(domain_size, L'\0');
    SID_NAME_USE use;
    BOOL found = ::LookupAccountSidW(nullptr, owner, name.data(), &name_size, domain.data(),
                                     &domain_size, &use);
    if (!found && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        name.assign(name_size + 1, L'\0');
        domain.assign(domain_size + 1, L'\0');
        found = ::LookupAccountSidW(nullptr, owner, name.data(), &name_size, domain.data(),
                                    &domain_size, &use);
    }
    if (!found) {
        result.status = OwnerLookup::Status::lookup_failed;
        return result;
    }
    result.status = OwnerLookup::Status::ok;
    result.name = ansi_of(from_w(name.c_str()));
    return result;
}

}  // namespace platform::win32
