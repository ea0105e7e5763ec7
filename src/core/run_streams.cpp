#include "core/run_streams.hpp"

#include "core/run_end.hpp"

namespace filarix {

RunStreams::RunStreams(platform::System& system)
    : std_out(system.standard_output()),
      std_err(system.standard_error()),
      standard_output_sink_(system.standard_output()) {}

RunStreams::~RunStreams() {
    if (output_file) output_file->flush();
    if (log) log->flush();
    if (rows_out) rows_out->flush();
    std_out.flush();
    std_err.flush();
}

OutStream& RunStreams::output() {
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

OutStream* RunStreams::ziplog() {
    if (ziplog_file) return ziplog_file.get();
    return ziplog_to_listing ? &output() : nullptr;
}

void keep_standard_output_for_rows(RunStreams& streams) {
    if (streams.rows_out) return;
    streams.rows_out = std::make_unique<OutStream>(streams.standard_output_sink_);
    streams.std_out.divert_to(streams.std_err);
}

[[noreturn]] void end_process(RunStreams& streams, int code) {
    if (streams.rows_out) streams.rows_out->flush();
    streams.std_out.flush();
    streams.std_err.flush();
    throw ProcessExit{code};
}

}  // namespace filarix
