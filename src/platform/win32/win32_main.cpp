// The program's entry on Windows: the arguments arrive as UTF-16 already;
// the real backend and the run driver.
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "platform/win32/win32_system.hpp"

int wmain(int argc, wchar_t** argv) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows wide character is UTF-16");
    std::vector<std::u16string> args;
    args.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    const auto sys = platform::make_win32_system();
    return filarix::run_program(*sys, std::move(args));
}
