#include "options/start_paths.hpp"

#include "core/shown_text.hpp"

namespace filarix {

std::u16string stored_start_path(const platform::PathSyntax& syntax, std::u16string_view full) {
    std::u16string path(full);
    // The root of a POSIX tree keeps its only separator.
    if (path.size() > 1 && syntax.is_separator(path.back())) path.pop_back();
    const bool keep =
        (!path.empty() && syntax.is_separator(path[0])) || (path.size() >= 3 && path[2] == u'?');
    if (!keep) path.insert(0, syntax.long_prefix);
    return path;
}

void add_start_path(Run& run, std::u16string_view path) {
    const auto full = resolved_path(run, path);
    if (!full) return;
    std::u16string stored = stored_start_path(run.syntax, *full);
    for (const auto& entry : run.s.root_list)
        if (run.syntax.same_path(entry, stored)) return;
    if (run.s.root_list.size() >= list_capacity) {
        run.std_err.printf("\nToo many start paths: %s is not searched\n",
                           shown_text(run, path).c_str());
        return;
    }
    run.s.root_list.push_back(std::move(stored));
}

void add_bare_argument(Run& run, std::u16string_view argument) {
    const auto full = resolved_path(run, argument);
    // A start path that is not there is named, not silently passed over.
    if (!full || (!platform::has_wildcards(*full) && !path_exists(run, *full))) {
        run.std_err.printf("\nCannot find/open %s\n", shown_text(run, argument).c_str());
        ++run.missing_start_paths;
        return;
    }
    add_path_argument(run, argument);
}

void add_path_argument(Run& run, std::u16string_view argument) {
    const auto full = resolved_path(run, argument);
    if (!full) return;
    const std::u16string& f = *full;
    if (f.find(u'*') == std::u16string::npos && path_is_directory(run, f)) {
        add_start_path(run, f);
        return;
    }
    const std::size_t sep = run.syntax.last_separator(f);
    if (sep == std::u16string::npos) return;
    std::u16string directory = f.substr(0, sep);
    // A file in a volume root keeps the root ("C:\", "/") as its directory,
    // not the bare drive, which would name the drive's current directory.
    const bool bare_drive = run.syntax.drive_letters && directory.size() >= 2 &&
                            directory.back() == u':' &&
                            run.syntax.without_long_prefix(directory).size() == 2;
    if (directory.empty() || bare_drive) directory = f.substr(0, sep + 1);
    add_start_path(run, directory);
    const std::u16string name = f.substr(sep + 1);
    if (!name.empty()) add_mask(run, name);
}

void add_mask(Run& run, std::u16string_view mask) {
    for (const auto& entry : run.s.filetype_list)
        if (entry == mask) return;
    if (run.s.filetype_list.size() >= list_capacity) {
        run.std_err.printf("\nToo many file masks: %s is not used\n",
                           shown_text(run, mask).c_str());
        return;
    }
    run.s.filetype_list.emplace_back(mask);
}

std::u16string resolve_command_program(Run& run, std::u16string_view command) {
    std::u16string_view text = command;
    while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
    const std::size_t blank = text.find(u' ');
    const std::u16string program(text.substr(0, blank));
    const std::u16string arguments(blank == std::u16string_view::npos ? std::u16string_view()
                                                                      : text.substr(blank + 1));
    const std::size_t first_blank = command.find(u' ');
    const std::size_t unresolved_length =
        first_blank == std::u16string_view::npos ? command.size() : first_blank;

    if (path_exists(run, program) || (command.size() >= 2 && command[1] == u':')) {
        run.s.command_program_length = unresolved_length;
        return std::u16string(command);
    }
    // Split the program into its name and extension; ".exe" when it has none.
    const std::size_t sep = run.syntax.last_separator(program);
    const std::size_t name_start = sep == std::u16string::npos ? 0 : sep + 1;
    const std::size_t dot = program.rfind(u'.');
    const bool has_extension = dot != std::u16string::npos && dot >= name_start;
    const std::u16string name = has_extension ? program.substr(0, dot) : program;
    const std::u16string extension = has_extension ? program.substr(dot) : u".exe";
    if (const auto found = program_on_search_path(run, name, extension)) {
        run.s.command_program_length = found->size();
        return *found + u" " + arguments;
    }
    run.s.command_program_length = unresolved_length;
    return std::u16string(command);
}

}  // namespace filarix
