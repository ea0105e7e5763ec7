#include "driver/progress.hpp"

#include <cstdio>

#include "core/numbers.hpp"

namespace filarix {

namespace {

constexpr std::int64_t redraw_interval_ms = 100;

std::string megabytes_text(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

void start_overall_progress(Run& run, const std::function<void(Run&)>& walk_all) {
    if (!run.s.precount) return;
    run.sizing_pass = true;
    walk_all(run);
    run.sizing_pass = false;
    run.progress.files_total = run.counts.files_found;
    run.progress.bytes_total = run.counts.bytes_found;
    run.counts.files_found = 0;
    run.counts.bytes_found = 0;
    // Records going to the error stream would be torn apart by the line.
    run.progress.active =
        run.std_err.is_terminal() && run.listing_target != ListingTarget::standard_error;
    run.progress.started_ms = run.sys.now_milliseconds();
    run.progress.drawn_ms = run.progress.started_ms - redraw_interval_ms;
}

std::string overall_progress_text(const RunTotals& totals, std::int64_t now_ms) {
    const OverallProgress& p = totals.progress;
    // Streams and ZIP members are listed beyond the counted files, so the
    // count done may pass the total: the share stops at 100.
    const std::int64_t files_done = totals.counts.files_found;
    const std::int64_t bytes_done = totals.counts.bytes_found;
    double share = 1.0;
    if (p.bytes_total > 0)
        share = static_cast<double>(bytes_done) / static_cast<double>(p.bytes_total);
    else if (p.files_total > 0)
        share = static_cast<double>(files_done) / static_cast<double>(p.files_total);
    if (share > 1.0) share = 1.0;
    std::string left = "--:--:--";
    const std::int64_t spent_ms = now_ms - p.started_ms;
    if (share > 0.0 && spent_ms > 0) {
        const auto seconds = static_cast<std::int64_t>(static_cast<double>(spent_ms) *
                                                       (1.0 - share) / share / 1000.0);
        char text[32];
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
        left = text;
    }
    char line[256];
    std::snprintf(line, sizeof line, " %s/%s files  %s/%s MB  %3d%%  %s left",
                  format_thousands(totals.counts.files_found).c_str(),
                  format_thousands(p.files_total).c_str(), megabytes_text(bytes_done).c_str(),
                  megabytes_text(p.bytes_total).c_str(), static_cast<int>(share * 100.0),
                  left.c_str());
    return line;
}

namespace {

void draw(platform::System& sys, RunTotals& totals, OutStream& out, bool always) {
    OverallProgress& p = totals.progress;
    if (!p.active) return;
    const std::int64_t now = sys.now_milliseconds();
    if (!always && now - p.drawn_ms < redraw_interval_ms) return;
    p.drawn_ms = now;
    const std::string text = overall_progress_text(totals, now);
    out.put('\r');
    out.put(text);
    // A shorter line than the last leaves none of the last one's end.
    if (text.size() < p.drawn_width) out.repeat(' ', p.drawn_width - text.size());
    p.drawn_width = text.size();
    out.flush();
}

}  // namespace

void draw_overall_progress(platform::System& sys, RunTotals& totals, OutStream& out) {
    draw(sys, totals, out, false);
}

void finish_overall_progress(platform::System& sys, RunTotals& totals, OutStream& out) {
    draw(sys, totals, out, true);
    totals.progress.active = false;
}

}  // namespace filarix
