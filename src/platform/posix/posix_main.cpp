// The program's entry on POSIX systems: the arguments as UTF-16 (bytes that
// are not UTF-8 survive as escapes), the real backend and the run driver.
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "platform/path_syntax.hpp"
#include "platform/posix/posix_system.hpp"

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    args.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) args.push_back(platform::utf8_to_utf16_lossless(argv[i]));
    const auto sys = platform::make_posix_system();
    return filarix::run_program(*sys, std::move(args));
}
