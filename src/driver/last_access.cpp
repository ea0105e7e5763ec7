#include "driver/last_access.hpp"

namespace filarix {

std::uint32_t read_last_access_setting(platform::System& sys, const RunSettings& s) {
    // A run that ends before it has a start path asks about the directory
    // it would have catalogued.
    if (s.root_list.empty()) {
        const auto cwd = sys.current_directory();
        return sys.last_access_setting(cwd ? *cwd : std::u16string());
    }
    return sys.last_access_setting(s.root_list.front());
}

void report_last_access(const platform::PathSyntax& syntax, std::uint32_t value, OutStream& out,
                        OutStream& notices) {
    out.put("  Last Access Date UPDATE is: ");
    // Windows' "system managed" settings keep on/off in their low bit.
    if (value == 0x80000002u || value == 0x80000003u) value &= 1u;
    switch (value) {
        case 0:
        case 0x80000000u:
            out.put("turned ON\n");
            break;
        case 1:
            out.put("turned ***** OFF *****\n");
            break;
        case platform::last_access_not_found:
            // Without drive letters there is no registry to send anyone to.
            if (!syntax.drive_letters) {
                out.put("not known\n");
                break;
            }
            out.put(
                "\"Disable Access Date Key\" Not Found\nDefault (except VISTA) is usually RESET "
                "ACCESS DATE\n\n");
            out.put("To confirm setting check registry key:\n");
            out.put(
                "HKEY_LOCAL_MACHINE\nSYSTEM\\CurrentControlSet\\Control\\FileSystem\\"
                "NtfsDisableLastAccessUpdate\n");
            out.put("A 1 means access data will NOT be updated");
            break;
        default:
            notices.put("\nerror in obtaining registry key\n");
            break;
    }
}

}  // namespace filarix
