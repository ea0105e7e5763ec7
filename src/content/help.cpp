#include "content/help.hpp"

namespace filarix {

void show_help(Run& run) {
    run.std_err.put(
        "\nFILARIX64 catalogues files: filarix64 [start paths...] [options]\n"
        "The full help screens are not written yet.\n");
}

}  // namespace filarix
