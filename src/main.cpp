// The program's entry: the arguments as UTF-16, the real backend of the
// system it runs on, and the run driver. On Linux bytes that are not UTF-8
// survive as escapes; on Windows the arguments arrive as UTF-16 already.
#include <string>
#include <vector>

#include "driver/driver.hpp"

#ifdef _WIN32
#include "platform/win32/win32_system.hpp"

int wmain(int argc, wchar_t** argv) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows wide character is UTF-16");
    std::vector<std::u16string> args;
    args.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    const auto sys = platform::make_win32_system();
    return run_program(*sys, std::move(args));
}
#else
#include "platform/path_syntax.hpp"
#include "platform/posix/posix_system.hpp"

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    args.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) args.push_back(platform::utf8_to_utf16_lossless(argv[i]));
    const auto sys = platform::make_posix_system();
    return run_program(*sys, std::move(args));
}
#endif
