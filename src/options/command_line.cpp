#include "options/command_line.hpp"

#include "driver/termination.hpp"
#include "options/settings_parser.hpp"

void parse_options(Run& run, std::size_t first) {
    for (std::size_t i = first; i < run.args.size(); ++i) {
        const std::u16string& arg = run.args[i];
        if (arg == u"-.ini") continue;
        const std::string text = run.sys.narrow(arg);
        if (!is_option_argument(run, arg)) {
            run.std_out.printf("\nThere appears to be an extra or eroneous item \"%s\"\n",
                               text.c_str());
            run.std_out.put("at the end of the command line\n");
            run.std_out.put("Please check your syntax, and correct to problem.\n");
            terminate_run(run, exit_code::illegal_option);
        }
        if (arg.size() == 1) continue;  // an introducer with no letter is ignored
        // The option letters are read by the full option reader, which is
        // still to come: every letter is refused for now.
        run.std_out.printf("\nIllegal option %s\n", text.c_str() + 1);
        terminate_run(run, exit_code::illegal_option);
    }
}
