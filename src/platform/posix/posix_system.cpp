// The Linux backend as one System object.
#include "platform/posix/posix_system.hpp"

#include <unistd.h>

#include "platform/posix/posix_internal.hpp"

namespace platform {
namespace posix {

PosixSystem::PosixSystem()
    : stdout_sink_(make_fd_sink(1, false)),
      stderr_sink_(make_fd_sink(2, false)),
      stdin_terminal_(::isatty(0) == 1) {}

PosixSystem::~PosixSystem() {
    leave_key_mode();
}

}  // namespace posix

std::unique_ptr<System> make_posix_system() {
    return std::make_unique<posix::PosixSystem>();
}

}  // namespace platform
