#include "driver/paging.hpp"

#include <cctype>

#include "driver/help.hpp"

namespace filarix {

void ConsolePager::pause_listing(Run& run) {
    OutStream& err = run.std_err;
    run.output().flush();
    centre_line(err, "HIT RETURN to CONTINUE");
    err.flush();
    const int key = run.sys.read_key();
    const int upper = key >= 0 && key < 128 ? std::toupper(key) : key;
    if (upper == 3 || upper == 27 || upper == 'X') end_run(exit_code::user_aborted);
    // Erase the prompt.
    err.repeat('\b', 75);
    err.repeat(' ', 75);
    err.repeat('\b', 75);
    err.flush();
}

}  // namespace filarix
