#include "content/zip_listing.hpp"

namespace filarix {

// The ZIP listing comes with its option; no member is listed yet.
std::uint32_t list_zip_members(Run&, std::u16string_view, std::uint64_t) {
    return 0;
}

}  // namespace filarix
