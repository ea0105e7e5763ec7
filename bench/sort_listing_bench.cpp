// Sorts an existing listing file in place with the program's own sort, so
// that a large listing made by a generator can be timed without walking
// millions of files:
//   sort_listing_bench FILE HEAD_LINES KEYS
// The listing has the default layout of a listing file (name width 54,
// write time, zone, volume columns); HEAD_LINES lines before the records
// stay first, and a run summary at the end stays last.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "catalogue/sort.hpp"
#include "core/columns.hpp"
#include "core/run.hpp"
#include "platform/posix/posix_system.hpp"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE HEAD_LINES KEYS\n", argv[0]);
        return 2;
    }
    const auto sys = platform::make_posix_system();
    filarix::Run run(*sys);
    filarix::apply_start_up_defaults(run.s);
    run.s.OUTPUT = filarix::ListingOutput::file;
    run.s.output_name = platform::utf8_to_utf16_lossless(argv[1]);
    run.s.SORT = 1;
    const std::string keys = argv[3];
    std::size_t k = 0;
    for (; k < keys.size() && k + 1 < run.s.sort_keys.size(); ++k) {
        run.s.sort_keys[k] = keys[k];
        run.s.sort_dirs[k] = keys[k] < '_' ? -1 : 1;
    }
    run.s.sort_keys[k] = filarix::RunSettings::sort_end;
    run.layout.columns = filarix::place_columns(run);
    int code = 0;
    try {
        filarix::sort_listing(run, run.s.output_name, std::strtoull(argv[2], nullptr, 10),
                              filarix::SortLimits{});
    } catch (const filarix::RunEnded& ended) {
        code = ended.reason;
    }
    run.std_err.flush();
    return code;
}
