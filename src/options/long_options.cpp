#include "options/long_options.hpp"

#include "options/date_arguments.hpp"

int read_long_option(Run& run, std::u16string_view text) {
    // No word is known yet: each one draws the warning for an unknown
    // option, and parsing goes on.
    run.std_out.printf("\nIllegal or incomplete minusminus option of \"--%s\" IGNORED\n",
                       run.sys.narrow(text).c_str());
    run.std_out.put("Please check the option compatability and rerun if necessary\n");
    timed_pause(run, 3);
    return 0;
}
