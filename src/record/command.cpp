#include "record/command.hpp"

namespace filarix {

// Commands are read by the -e/-E options, which come later; nothing to run yet.
void run_file_command(Run&, const std::u16string&, const std::u16string&, const std::u16string&) {}

}  // namespace filarix
