#include "core/parse_actions.hpp"

#include <utility>

#include "core/run.hpp"
#include "core/shown_text.hpp"
#include "platform/path_syntax.hpp"

namespace filarix {

void ask_action(Run& run, ParseAction action) {
    run.parse_actions.list.push_back(std::move(action));
    if (run.parse_actions.perform) run.parse_actions.perform(run);
}

std::optional<std::u16string> resolved_path(const Run& run, std::u16string_view name) {
    const auto& full_path = run.parse_actions.lookups.full_path;
    return full_path ? full_path(name) : std::u16string(name);
}

std::u16string full_path_or_name(const Run& run, std::u16string_view name) {
    auto full = resolved_path(run, name);
    return full ? std::move(*full) : std::u16string(name);
}

std::optional<std::u16string> environment_value(const Run& run, std::u16string_view name) {
    const auto& environment = run.parse_actions.lookups.environment;
    return environment ? environment(name) : std::nullopt;
}

std::optional<std::u16string> computer_name(const Run& run) {
    const auto& computer = run.parse_actions.lookups.computer_name;
    return computer ? computer() : std::nullopt;
}

std::optional<IniFileText> ini_file_text(const Run& run) {
    const auto& ini_file = run.parse_actions.lookups.ini_file;
    return ini_file ? ini_file() : std::nullopt;
}

std::string narrow_text(const Run& run, std::u16string_view text) {
    const auto& narrow = run.parse_actions.lookups.narrow;
    return narrow ? narrow(text) : platform::utf16_to_utf8_lossless(text);
}

std::u16string wide_text(const Run& run, std::string_view text) {
    const auto& wide = run.parse_actions.lookups.wide;
    return wide ? wide(text) : platform::utf8_to_utf16_lossless(text);
}

std::string shown_text(const Run& run, std::u16string_view name) {
    std::string text = narrow_text(run, name);
    mask_controls(text);
    return text;
}

bool path_exists(const Run& run, std::u16string_view path) {
    const auto& exists = run.parse_actions.lookups.exists;
    return exists && exists(path);
}

bool path_is_directory(const Run& run, std::u16string_view path) {
    const auto& is_directory = run.parse_actions.lookups.is_directory;
    return is_directory && is_directory(path);
}

std::optional<std::u16string> program_on_search_path(const Run& run, std::u16string_view name,
                                                     std::u16string_view extension) {
    const auto& find_program = run.parse_actions.lookups.find_program;
    return find_program ? find_program(name, extension) : std::nullopt;
}

}  // namespace filarix
