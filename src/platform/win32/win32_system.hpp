// The Windows answer to the platform interface.
#pragma once

#include <memory>

#include "platform/platform.hpp"

namespace platform {

std::unique_ptr<System> make_win32_system();

}  // namespace platform
