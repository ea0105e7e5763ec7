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

namespace {

// " F/T files  B/T MB  P%  H:MM:SS left": the share by bytes when there
// are any, else by files, stopped at 100.
std::string progress_text(std::int64_t files_done, std::int64_t files_total,
                          std::int64_t bytes_done, std::int64_t bytes_total,
                          std::int64_t spent_ms) {
    double share = 1.0;
    if (bytes_total > 0)
        share = static_cast<double>(bytes_done) / static_cast<double>(bytes_total);
    else if (files_total > 0)
        share = static_cast<double>(files_done) / static_cast<double>(files_total);
    if (share > 1.0) share = 1.0;
    std::string left = "--:--:--";
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
                  format_thousands64(files_done).c_str(), format_thousands64(files_total).c_str(),
                  megabytes_text(bytes_done).c_str(), megabytes_text(bytes_total).c_str(),
                  static_cast<int>(share * 100.0), left.c_str());
    return line;
}

}  // namespace

std::string overall_progress_text(const RunTotals& totals, std::int64_t now_ms) {
    const OverallProgress& p = totals.progress;
    // Streams and ZIP members are listed beyond the counted files, so the
    // count done may pass the total: the share stops at 100.
    return progress_text(std::int64_t(totals.counts.files_found) + p.files_passed, p.files_total,
                         totals.counts.bytes_found + p.bytes_passed, p.bytes_total,
                         now_ms - p.started_ms);
}

std::string search_progress_text(const DupeProgress& search, std::int64_t spent_ms) {
    const auto n = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
    return " Duplicate search:" + progress_text(n(search.files_done), n(search.files_total),
                                                n(search.bytes_done), n(search.bytes_total),
                                                spent_ms);
}

namespace {

template <typename Text>
void draw(platform::System& sys, RunTotals& totals, OutStream& out, bool always, Text text_at) {
    OverallProgress& p = totals.progress;
    if (!p.active) return;
    const std::int64_t now = sys.now_milliseconds();
    if (!always && now - p.drawn_ms < redraw_interval_ms) return;
    p.drawn_ms = now;
    const std::string text = text_at(now);
    out.put('\r');
    out.put(text);
    // A shorter line than the last leaves none of the last one's end.
    if (text.size() < p.drawn_width) out.repeat(' ', p.drawn_width - text.size());
    p.drawn_width = text.size();
    out.flush();
}

void draw(platform::System& sys, RunTotals& totals, OutStream& out, bool always) {
    draw(sys, totals, out, always,
         [&](std::int64_t now) { return overall_progress_text(totals, now); });
}

void draw(platform::System& sys, RunTotals& totals, OutStream& out, bool always,
          const DupeProgress& search) {
    draw(sys, totals, out, always, [&](std::int64_t now) {
        return search_progress_text(search, now - totals.progress.started_ms);
    });
}

}  // namespace

void draw_overall_progress(platform::System& sys, RunTotals& totals, OutStream& out) {
    draw(sys, totals, out, false);
}

void finish_overall_progress(platform::System& sys, RunTotals& totals, OutStream& out) {
    draw(sys, totals, out, true);
    totals.progress.active = false;
}

void start_search_progress(Run& run) {
    OverallProgress& p = run.progress;
    if (p.drawn_width == 0) return;
    // The walk's line stays as it ended; the search's goes below it.
    run.std_err.put('\n');
    p.drawn_width = 0;
    p.active = true;
    p.started_ms = run.sys.now_milliseconds();
    p.drawn_ms = p.started_ms - redraw_interval_ms;
}

void draw_search_progress(platform::System& sys, RunTotals& totals, OutStream& out,
                          const DupeProgress& search) {
    draw(sys, totals, out, false, search);
}

void finish_search_progress(platform::System& sys, RunTotals& totals, OutStream& out,
                            const DupeProgress& search) {
    draw(sys, totals, out, true, search);
    totals.progress.active = false;
}

}  // namespace filarix
