// The overall progress line of --PROGRESS: files and bytes done out of the
// counting pass's totals, a percentage and the time left. It is drawn only
// on a terminal, at most ten times a second; into a pipe or a file nothing
// is drawn. The duplicate search after the walk draws a line of its own
// below the walk's, the same way: files and bytes read out of those whose
// size another file shares.
#pragma once

#include "core/run.hpp"

namespace filarix {

// Counts what the walk will list (the counting pass) and starts the line;
// `walk_all` walks every start path once.
void start_overall_progress(Run& run, const std::function<void(Run&)>& walk_all);
// Redraws the line when a tenth of a second has passed since the last time.
void draw_overall_progress(platform::System& sys, RunTotals& totals, OutStream& out);
// Draws the line as the walk ends, so that it stays above the summary.
void finish_overall_progress(platform::System& sys, RunTotals& totals, OutStream& out);
// The line's text for the counts so far.
std::string overall_progress_text(const RunTotals& totals, std::int64_t now_ms);

// Starts the search's line under the walk's, when the walk had one.
void start_search_progress(Run& run);
// Redraws it when a tenth of a second has passed since the last time.
void draw_search_progress(platform::System& sys, RunTotals& totals, OutStream& out,
                          const DupeProgress& search);
// Draws it as the search ends, so that it stays above the summary.
void finish_search_progress(platform::System& sys, RunTotals& totals, OutStream& out,
                            const DupeProgress& search);
// The search's line for the counts so far.
std::string search_progress_text(const DupeProgress& search, std::int64_t spent_ms);

}  // namespace filarix
