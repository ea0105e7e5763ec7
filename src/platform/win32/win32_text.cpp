// Text conversion: the program's 8-bit text on Windows is the ANSI code
// page, as the runtime's narrow functions use it.
#include "platform/win32/win32_internal.hpp"

namespace platform::win32 {

std::string ansi_of(std::u16string_view text) {
    if (text.empty()) return {};
    const std::wstring w = to_w(text);
    const int size = static_cast<int>(w.size());
    const int need = ::WideCharToMultiByte(CP_ACP, 0, w.data(), size, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return std::string(text.size(), '?');
    std::string out(static_cast<std::size_t>(need), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, w.data(), size, out.data(), need, nullptr, nullptr);
    return out;
}

std::u16string wide_of_ansi(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int need = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (need <= 0) return std::u16string(text.size(), u'?');
    std::wstring out(static_cast<std::size_t>(need), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), need);
    return from_w(out.data(), out.size());
}

}  // namespace platform::win32
