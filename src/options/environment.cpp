#include "options/environment.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "core/parse_actions.hpp"
#include "core/shown_text.hpp"
#include "options/number_text.hpp"
#include "options/option_rules.hpp"
#include "platform/path_syntax.hpp"

namespace filarix {

namespace {

// The value of a variable that is set to something; an empty value names
// nothing and changes nothing.
std::optional<std::u16string> value_of(Run& run, std::u16string_view name) {
    auto value = environment_value(run, name);
    if (!value || value->empty()) return std::nullopt;
    return value;
}

// ON or OFF in any case sets a switch; other values leave it as it was.
template <class Flag>
bool read_switch(Run& run, std::u16string_view name, Flag& setting) {
    const auto value = value_of(run, name);
    if (!value) return false;
    if (platform::equal_ignoring_case(*value, u"ON")) {
        setting = static_cast<Flag>(1);
    } else if (platform::equal_ignoring_case(*value, u"OFF")) {
        setting = static_cast<Flag>(0);
    } else {
        return false;
    }
    return true;
}

// The log is opened at once, so that it records the whole run even when
// no later source names one; ACCT itself stays off.
bool read_accounting(Run& run) {
    const auto value = value_of(run, u"ACCT");
    if (!value) return false;
    const std::u16string name =
        platform::equal_ignoring_case(*value, u"ON") ? std::u16string(u"ACCT-ING") : *value;
    ask_action(run, OpenLogAction{full_path_or_name(run, name)});
    // Counted only when the log the driver has just opened is there.
    return run.log != nullptr;
}

// One character, after a double quote the shell may have left in front.
bool read_delimiter(Run& run) {
    const auto value = value_of(run, u"DELIMETER");
    if (!value) return false;
    std::u16string_view text = *value;
    if (text.front() == u'"') text.remove_prefix(1);
    if (text.empty() || !delimiter_allowed(delimiter_byte(text.front()))) return false;
    run.s.delimiter = delimiter_byte(text.front());
    run.std_err.printf("env points to :%s:", shown_text(run, text).c_str());
    return true;
}

bool read_width(Run& run) {
    const auto value = value_of(run, u"WIDTH");
    if (!value) return false;
    run.s.WIDTH = column_width(*value);
    return true;
}

// Which time a time column shows; the column itself is asked for elsewhere.
bool read_time(Run& run) {
    const auto value = value_of(run, u"TIME");
    if (!value) return false;
    run.s.time_type = static_cast<std::int32_t>(value->front() & 0xFF);
    return true;
}

}  // namespace

void read_environment(Run& run) {
    // Every variable that changed something is counted, so the summary's
    // "environment used" lines tell the truth about any of them.
    int used = 0;
    used += read_accounting(run);
    used += read_delimiter(run);
    used += read_switch(run, u"RESET", run.s.RESET);
    used += read_switch(run, u"RECURSE", run.s.RECURSE);
    used += read_width(run);
    used += read_time(run);
    run.environment_used += used;
}

}  // namespace filarix
