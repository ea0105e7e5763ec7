#include "core/run.hpp"

Run::Run(platform::System& system)
    : sys(system),
      syntax(system.syntax()),
      std_out(system.standard_output()),
      std_err(system.standard_error()),
      output(&std_out) {
    sort_keys[0] = 'n';
    sort_dirs[0] = 1;
    sort_keys[1] = 999;
}

Run::~Run() {
    // Whatever ended the run, nothing already formatted is lost.
    if (output_file) output_file->flush();
    if (log) log->flush();
    std_out.flush();
    std_err.flush();
}

[[noreturn]] void end_process(Run& run, int code) {
    run.std_out.flush();
    run.std_err.flush();
    throw ProcessExit{code};
}
