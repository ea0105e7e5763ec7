#include "driver/driver.hpp"

#include "catalogue/catalogue_compare.hpp"
#include "catalogue/database.hpp"
#include "catalogue/duplicates.hpp"
#include "catalogue/listing_reuse.hpp"
#include "content/digests.hpp"
#include "core/shown_text.hpp"
#include "driver/accounting_log.hpp"
#include "driver/output_setup.hpp"
#include "driver/paging.hpp"
#include "driver/parse_action_performer.hpp"
#include "driver/progress.hpp"
#include "driver/termination.hpp"
#include "driver/volume.hpp"
#include "driver/walker.hpp"
#include "options/settings_parser.hpp"
#include "options/start_paths.hpp"

namespace filarix {

bool env_is_on(platform::System& sys, std::u16string_view name) {
    const auto value = sys.get_env(name);
    if (!value) return false;
    return platform::ascii_upper(*value).find(u"ON") != std::u16string::npos;
}

namespace {

std::u16string program_name_of(const platform::PathSyntax& syntax, std::u16string_view path) {
    const std::size_t sep = syntax.last_separator(path);
    std::u16string name(path.substr(sep == std::u16string_view::npos ? 0 : sep + 1));
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.resize(dot);
    return name;
}

void early_defaults(Run& run) {
    run.s.ZULU = 0;
    run.s.time_type = 'w';
    if (env_is_on(run.sys, u"RESET")) run.s.RESET = 1;
    if (env_is_on(run.sys, u"SILENT")) run.s.SILENT = 1;
    run.start_time = run.sys.now_seconds();
    run.start_time_set = true;
    run.zone_name = zone_abbreviation(run.sys);
}

}  // namespace

namespace {

// The start-up and the walk over every start path. Ends by throwing
// RunEnded, whether the walk finished or anything below ended the run.
[[noreturn]] void start_and_walk(Run& run, const std::function<void(Run&)>& adjust) {
    platform::System& sys = run.sys;
    if (run.args.empty()) run.args.emplace_back();
    run.args[0] = sys.executable_path();
    run.program_name = program_name_of(run.syntax, run.args[0]);
    sys.install_interrupt_handler();
    early_defaults(run);

    apply_start_up_defaults(run.s);

    give_sources_lookups(run);
    perform_parse_actions_as_asked(run);
    parse_settings(run);
    if (adjust) adjust(run);
    settle_settings(run);
    check_database_support(run);
    echo_command_line(run.sys, run.args, run.log.get());
    // Read before the output is opened, so that a listing written over the
    // one it reuses still gets every digest from it.
    open_reuse_listing(run);
    open_output(run);
    write_start_banner(run);

    // Start paths were named and none of them exists: nothing to catalogue,
    // and the current directory was not asked for.
    if (run.s.root_list.empty() && run.missing_start_paths != 0) end_run(exit_code::input_file);
    if (run.s.root_list.empty()) {
        if (const auto cwd = sys.current_directory()) add_start_path(run, *cwd);
    }
    if (!run.s.root_list.empty()) {
        const std::u16string first = run.s.root_list.front();
        set_up_volume_and_layout(run, first);
        run.layout.streams_volume = volume_has_streams(run.sys, first);
        run.layout.drive_free_bytes = drive_free_space(run.sys, run.std_err, first);
    }
    // No source offers the counting pass for the name width yet, so the
    // width stays as set.
    run.sizing_pass = false;

    if (run.log && !run.s.root_list.empty())
        run.log->printf(
            " Initial directory: %s\n",
            shown_name(sys, run.syntax.without_long_prefix(run.s.root_list.front())).c_str());
    check_log_written(run.sys, run);
    if (run.s.root_list.empty()) end_run(exit_code::normal_none);
    open_earlier_catalogue(run);
    open_database(run);

    // Kept for the whole walk, the counting pass's too.
    ConsolePager pager;
    DigestEngine digests;
    EntryTools tools{pager, digests};
    const auto walk_all = [&tools](Run& r) {
        for (std::u16string start : r.s.root_list) {
            if (start.empty() || !r.syntax.is_separator(start.back())) start += r.syntax.separator;
            if (start[0] >= u'a' && start[0] <= u'z') start[0] = char16_t(start[0] - 32);
            if (!r.s.label) r.layout.volume_id_text = volume_id_for(r.sys, start);
            r.counts.walk_depth = 0;
            r.start_path_length = start.size();
            walk_directory(r, tools, start);
        }
    };
    start_overall_progress(run, walk_all);
    walk_all(run);
    finish_overall_progress(run.sys, run, run.std_err);
    if (run.s.DUPES) {
        start_search_progress(run);
        DupeProgress search;
        list_duplicates(run, tools, [&](const DupeProgress& now) {
            search = now;
            draw_search_progress(run.sys, run, run.std_err, search);
        });
        finish_search_progress(run.sys, run, run.std_err, search);
    }
    const std::uint64_t removed = write_removed_rows(run);
    end_run(run.counts.files_found != 0 || removed != 0 ? exit_code::normal_listed
                                                        : exit_code::normal_none);
}

}  // namespace

int run_driver(Run& run, const std::function<void(Run&)>& adjust) {
    try {
        start_and_walk(run, adjust);
    } catch (const RunEnded& ended) {
        return terminate_run(run, ended.reason);
    } catch (const ProcessExit& exit) {
        return exit.code;
    } catch (const std::bad_alloc&) {
        // Memory ran out somewhere below: the run still ends in order.
        run.std_err.put("\nError obtaining memory\n");
        return terminate_run(run, exit_code::memory_error);
    }
}

int run_program(platform::System& sys, std::vector<std::u16string> args) {
    Run run(sys);
    run.args = std::move(args);
    return run_driver(run);
}

}  // namespace filarix
