// How a run ends: the exit statuses, and the two exceptions that carry
// them up to the driver.
#pragma once

namespace filarix {

// The numbered ends of a run; the number is the process exit status.
namespace exit_code {
inline constexpr int normal_none = 0;
inline constexpr int normal_listed = 1;
inline constexpr int user_aborted = 2;
inline constexpr int input_file = 3;
inline constexpr int output_file = 4;
inline constexpr int paramater_file = 5;
inline constexpr int illegal_option = 6;
inline constexpr int memory_error = 7;
inline constexpr int other_exit = 8;
inline constexpr int write_error = 9;
inline constexpr int read_error = 11;
inline constexpr int non_specific = 13;
}  // namespace exit_code

// Thrown by whatever must end the run; the driver alone catches it, writes
// the summaries and the log block and returns the reason as the status.
struct RunEnded {
    int reason;
};
// Thrown by the few early failures that end the process without a summary.
struct ProcessExit {
    int code;
};

// Ends the run for a reason; the summaries follow in the driver.
[[noreturn]] inline void end_run(int reason) {
    throw RunEnded{reason};
}

}  // namespace filarix
