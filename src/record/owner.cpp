#include "record/owner.hpp"

namespace filarix {

bool setup_userid(Run& run) {
    return run.sys.enable_security_privilege();
}

std::string owner_of_path(Run& run, std::u16string_view path) {
    const auto found = run.sys.owner_of(run.syntax.without_long_prefix(path));
    if (found.status != platform::OwnerLookup::Status::ok) return "UNKNOWN";
    return found.name;
}

}  // namespace filarix
