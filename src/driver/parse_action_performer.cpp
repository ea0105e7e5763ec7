#include "driver/parse_action_performer.hpp"

#include <variant>

#include "content/hash_set.hpp"
#include "content/signature.hpp"
#include "core/day_count.hpp"
#include "core/log_file.hpp"
#include "core/shown_text.hpp"
#include "driver/disk_label_counter.hpp"
#include "driver/help.hpp"
#include "driver/ini_file_finder.hpp"
#include "driver/memo.hpp"

namespace filarix {

namespace {

void perform(Run& run, const PauseAction& pause) {
    run.std_out.flush();
    run.std_err.flush();
    run.sys.sleep_ms(static_cast<unsigned>(pause.seconds) * 1000u);
    // Ctrl+C during a pause ends the run then, not after the pause.
    if (run.sys.interrupted()) end_run(exit_code::user_aborted);
}

void perform(Run& run, const NextLabelAction& next) {
    run.s.label_text = next_disk_label(run.sys, run.std_err).substr(0, next.kept);
}

void perform(Run& run, const LoadHashSetAction& load) {
    load_hash_set(run, load.path);
}

void perform(Run& run, const LoadSignaturesAction&) {
    load_header_file(run);
}

void perform(Run& run, const OpenLogAction& open) {
    close_accounting_log(run);
    run.log = open_accounting_log(run, open.name);
}

void perform(Run& run, const CloseLogAction& close) {
    if (!run.log) return;
    run.log->put(close.last_lines);
    close_accounting_log(run);
}

void perform(Run& run, const RequireFileAction& file) {
    if (run.sys.open_read(file.path, false)) return;
    run.std_out.printf("\nCannot find/open %s", shown_name(run.sys, file.given).c_str());
    end_process(run, exit_code::input_file);
}

void perform(Run& run, const OpenMemoAction& memo) {
    open_memo_file(run, memo.name);
}

void perform(Run& run, const MemoPromptAction&) {
    if (run.memo_stream()) memo_prompt(run);
}

void perform(Run& run, const DateOutputNameAction&) {
    run.s.output_name = expanded_output_name(run.syntax, run.s.output_name, name_stamp(run));
}

void perform(Run& run, const AgeFromDateAction& age) {
    (age.older ? run.s.older_days : run.s.newer_days) = days_since(run.sys, age.date);
}

void perform(Run& run, const ShowHelpAction& help) {
    if (show_help(run, help.asked) || !help.answer) return;
    run.std_err.put("\nError writing the help\n");
    end_process(run, exit_code::write_error);
}

}  // namespace

NameStamp name_stamp(Run& run) {
    const std::int64_t now = run.start_time_set ? run.start_time : run.sys.now_seconds();
    NameStamp stamp;
    if (const auto local = run.sys.local_calendar(now)) stamp.local = *local;
    const std::int64_t ticks =
        (now + platform::epoch_difference_seconds) * platform::ticks_per_second;
    if (ticks >= 0) {
        if (const auto utc = run.sys.to_utc(static_cast<platform::FileTicks>(ticks)))
            stamp.utc = *utc;
    }
    stamp.computer = run.sys.computer_name().value_or(u"");
    return stamp;
}

void perform_parse_actions(Run& run) {
    ParseActions& actions = run.parse_actions;
    while (actions.performed < actions.list.size()) {
        // Counted first: an action that ends the run is not done twice.
        const ParseAction action = actions.list[actions.performed++];
        std::visit([&run](const auto& a) { perform(run, a); }, action);
    }
}

void perform_parse_actions_as_asked(Run& run) {
    run.parse_actions.perform = perform_parse_actions;
}

}  // namespace filarix

namespace filarix {

void give_sources_lookups(Run& run) {
    platform::System& sys = run.sys;
    run.parse_actions.lookups = {
        [&sys](std::u16string_view name) { return sys.full_path(name); },
        [&sys](std::u16string_view name) { return sys.get_env(name); },
        [&sys] { return sys.computer_name(); },
        [&run] { return find_and_read_ini_file(run); },
        [&sys](std::u16string_view path) { return sys.exists(path); },
        [&sys](std::u16string_view path) { return sys.is_directory(path); },
        [&sys](std::u16string_view name, std::u16string_view extension) {
            return sys.search_path(name, extension);
        },
        [&sys](std::u16string_view text) { return sys.narrow(text); },
        [&sys](std::string_view text) { return sys.wide(text); },
    };
}

}  // namespace filarix
