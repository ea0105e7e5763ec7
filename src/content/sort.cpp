#include "content/sort.hpp"

namespace filarix {

// The sort comes with the -y/-Y options; the listing stays in walk order.
void sort_output_file(Run&, const std::u16string&) {}

}  // namespace filarix
