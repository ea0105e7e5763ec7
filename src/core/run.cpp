#include "core/run.hpp"

namespace filarix {

Run::Run(platform::System& system)
    : sys(system),
      syntax(system.syntax()),
      std_out(system.standard_output()),
      std_err(system.standard_error()) {}

OutStream& Run::output() {
    switch (listing_target) {
        case ListingTarget::file:
            if (output_file) return *output_file;
            break;
        case ListingTarget::standard_output:
            return rows_out ? *rows_out : std_out;
        case ListingTarget::standard_error:
            break;
    }
    return std_err;
}

OutStream* Run::ziplog() {
    if (ziplog_file) return ziplog_file.get();
    return ziplog_to_listing ? &output() : nullptr;
}

OutStream* Run::memo_stream() const {
    if (memo_file) return memo_file.get();
    return s.MEMO ? log.get() : nullptr;
}

Run::~Run() {
    // Whatever ended the run, nothing already formatted is lost.
    if (output_file) output_file->flush();
    if (log) log->flush();
    if (rows_out) rows_out->flush();
    std_out.flush();
    std_err.flush();
}

void keep_standard_output_for_rows(Run& run) {
    if (run.rows_out) return;
    run.rows_out = std::make_unique<OutStream>(run.sys.standard_output());
    run.std_out.divert_to(run.std_err);
}

[[noreturn]] void end_process(Run& run, int code) {
    if (run.rows_out) run.rows_out->flush();
    run.std_out.flush();
    run.std_err.flush();
    throw ProcessExit{code};
}

}  // namespace filarix
