// The Windows backend as one System object.
#include "platform/win32/win32_system.hpp"

#include "platform/win32/win32_internal.hpp"

namespace platform {
namespace win32 {

Win32System::Win32System()
    : stdout_sink_(make_handle_sink(::GetStdHandle(STD_OUTPUT_HANDLE), false, true)),
      stderr_sink_(make_handle_sink(::GetStdHandle(STD_ERROR_HANDLE), false, true)),
      stdin_console_(is_console(::GetStdHandle(STD_INPUT_HANDLE))) {
    use_ansi_file_apis();
}

Win32System::~Win32System() = default;

Sink& Win32System::standard_output() {
    return *stdout_sink_;
}
Sink& Win32System::standard_error() {
    return *stderr_sink_;
}

}  // namespace win32

std::unique_ptr<System> make_win32_system() {
    return std::make_unique<win32::Win32System>();
}

}  // namespace platform
