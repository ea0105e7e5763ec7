#include "driver/output_setup.hpp"

#include "driver/termination.hpp"

void open_output(Run& run) {
    RunSettings& s = run.s;
    if (s.OUTPUT == 1) {
        auto sink = run.sys.open_text(
            run.output_name, s.APPEND ? platform::OpenMode::append : platform::OpenMode::write);
        if (!sink) {
            run.std_err.printf(
                s.APPEND ? "\ncan't open output file %s\n" : "\ncan't create output file %s\n",
                run.sys.narrow(run.output_name).c_str());
            terminate_run(run, exit_code::output_file);
        }
        run.output_file = std::make_unique<OutStream>(std::move(sink));
        run.output = run.output_file.get();
    }
    if (s.APPEND && s.OUTPUT == 0) {
        run.std_out.put("\n\tNeed output file name if -a is chosen\n");
        terminate_run(run, exit_code::illegal_option);
    }
    if (s.NAMEONLY) s.RECURSE = 0;
    if (s.TIME && s.time_type == '0') s.time_type = 'w';
}

void next_split_file(Run&) {
    // Splitting is asked for by the INI key SPLIT, which comes later.
}

void check_output_written(Run& run) {
    if (!run.output->failed()) return;
    const std::string name =
        run.output == run.output_file.get()
            ? run.sys.narrow(run.output_name)
            : std::string(run.output == &run.std_out ? "the standard output"
                                                     : "the standard error stream");
    run.output = &run.std_err;
    run.std_err.printf("\nError writing the listing to %s\n", name.c_str());
    terminate_run(run, exit_code::write_error);
}
