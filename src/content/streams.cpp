#include "content/streams.hpp"

namespace filarix {

// Stream enumeration comes with the stream lines; until then none is found.
std::uint32_t enumerate_streams(Run&, std::u16string_view) {
    return 0;
}

}  // namespace filarix
