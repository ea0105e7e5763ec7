#include "options/command_line.hpp"

#include "driver/termination.hpp"
#include "options/settings_parser.hpp"

namespace {

[[noreturn]] void extra_item(Run& run, const std::string& text) {
    run.std_out.printf("\nThere appears to be an extra or eroneous item \"%s\"\n", text.c_str());
    run.std_out.put("at the end of the command line\n");
    run.std_out.put("Please check your syntax, and correct to problem.\n");
    terminate_run(run, exit_code::illegal_option);
}

[[noreturn]] void illegal_option(Run& run, const std::u16string& arg, std::size_t letter) {
    run.std_out.printf("\nIllegal option %s\n", run.sys.narrow(arg.substr(letter)).c_str());
    run.std_out.flush();
    run.sys.sleep_ms(2000);
    terminate_run(run, exit_code::illegal_option);
}

}  // namespace

void parse_options(Run& run, std::size_t first) {
    RunSettings& s = run.s;
    for (std::size_t i = first; i < run.args.size(); ++i) {
        const std::u16string& arg = run.args[i];
        if (arg == u"-.ini") continue;
        if (!is_option_argument(run, arg)) extra_item(run, run.sys.narrow(arg));
        // Several letters may share one introducer: -c5s is -c -5 -s.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            switch (arg[k]) {
                case u'5':
                    s.HASH = 1;
                    break;
                case u'c':
                    s.CRC = 1;
                    break;
                case u's':
                    s.SHA = 1;
                    break;
                default:
                    // The remaining letters arrive with the full option reader.
                    illegal_option(run, arg, k);
            }
        }
    }
}
