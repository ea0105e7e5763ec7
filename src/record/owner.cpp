#include "record/owner.hpp"

namespace filarix {

bool setup_userid(platform::System& sys) {
    return sys.enable_security_privilege();
}

std::string owner_of_path(platform::System& sys, std::u16string_view path) {
    const auto found = sys.owner_of(sys.syntax().without_long_prefix(path));
    if (found.status != platform::OwnerLookup::Status::ok) return "UNKNOWN";
    return found.name;
}

}  // namespace filarix
