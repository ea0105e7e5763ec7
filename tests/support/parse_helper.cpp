#include "parse_helper.hpp"

#include <cstdint>
#include <cstring>
#include <variant>

#include "driver/parse_action_performer.hpp"
#include "driver/termination.hpp"
#include "options/settings_parser.hpp"
#include "platform/path_syntax.hpp"

namespace testing_support {

std::string text_of(std::u16string_view text) {
    return platform::utf16_to_utf8_lossless(text);
}

std::string joined(const std::vector<std::u16string>& list) {
    std::string out;
    for (const auto& item : list) out += text_of(item) + "|";
    return out;
}

void Parse::go(const Args& args, const Prepare& prepare) {
    mp.out_text.clear();
    mp.err_text.clear();
    code = -1;
    process_exit = false;
    run = std::make_unique<filarix::Run>(mp);
    run->args = {u"C:\\TOOLS\\FILARIX64.EXE"};
    run->args.insert(run->args.end(), args.begin(), args.end());
    apply_start_up_defaults(run->s);
    // The sources look names and variables up in the platform, as the
    // driver has them do.
    give_sources_lookups(*run);
    if (prepare) prepare(mp, *run);
    if (perform_actions) perform_parse_actions_as_asked(*run);
    try {
        parse_settings(*run);
    } catch (const RunEnded& ended) {
        // The driver would close the run out here: the summaries follow.
        code = terminate_run(*run, ended.reason);
    } catch (const ProcessExit& exit) {
        code = exit.code;
        process_exit = true;
    }
    run->std_out.flush();
    run->std_err.flush();
    out = mp.out_text;
    err = mp.err_text;
}

std::uint64_t paused_ms(const filarix::Run& run) {
    std::uint64_t total = 0;
    for (const auto& action : run.parse_actions.list)
        if (const auto* pause = std::get_if<PauseAction>(&action))
            total += static_cast<std::uint64_t>(pause->seconds) * 1000u;
    return total;
}

RunSettings parsed_defaults() {
    Parse p;
    p.go({});
    return p.run->s;
}

std::string flag_differences(const SettingFlags& got, const SettingFlags& want) {
    if (got == want) return "";
    // The record compares as a whole; the bytes that differ point at the
    // field for whoever reads the failure.
    const auto* a = reinterpret_cast<const unsigned char*>(&got);
    const auto* b = reinterpret_cast<const unsigned char*>(&want);
    std::string text = "the settings differ";
    for (std::size_t i = 0; i < sizeof(SettingFlags); ++i)
        if (a[i] != b[i])
            text += "; byte " + std::to_string(i) + ": got " + std::to_string(a[i]) + ", want " +
                    std::to_string(b[i]);
    return text + "\n";
}

}  // namespace testing_support
