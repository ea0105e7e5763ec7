#include "record/command.hpp"

#include <algorithm>

namespace filarix {
namespace {

// Longer arguments than this cannot reach a program on Windows, whose
// command line holds 32767 characters; the command is skipped, said so.
constexpr std::size_t longest_argument = 32000;

// Blank-separated words of a template piece.
void append_words(std::vector<std::u16string>& words, std::u16string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == u' ') ++pos;
        const std::size_t end = std::min(text.find(u' ', pos), text.size());
        if (end > pos) words.emplace_back(text.substr(pos, end - pos));
        pos = end;
    }
}

// Stands for the directory of -eP until the command is taken apart.
constexpr char16_t directory_marker = u'\uE000';

void replace_marker(std::u16string& text, std::u16string_view dir) {
    for (std::size_t at; (at = text.find(directory_marker)) != std::u16string::npos;)
        text.replace(at, 1, dir);
}

}  // namespace

std::size_t substitute_path(std::u16string& template_text, std::u16string_view directory) {
    constexpr std::u16string_view marker = u"-PATH";
    const std::size_t at = template_text.find(marker);
    if (at == std::u16string::npos) return at;
    template_text.replace(at, marker.size(), std::u16string(directory) + u" ");
    return at;
}

BuiltCommand build_command(const platform::PathSyntax& syntax, std::u16string template_text,
                           std::size_t program_length) {
    BuiltCommand built;
    program_length = std::min(program_length, template_text.size());
    built.program = template_text.substr(0, program_length);
    // A Windows program path takes backslashes; the arguments keep their
    // slashes, which are Windows switches ("dir /b").
    if (syntax.drive_letters)
        for (auto& c : built.program)
            if (c == u'/') c = u'\\';
    std::size_t rest = program_length;
    if (rest < template_text.size() && template_text[rest] == u' ') ++rest;
    const std::size_t percent = template_text.find(u'%', rest);
    if (percent == std::u16string::npos) {
        built.before = template_text.substr(rest);
    } else {
        built.before = template_text.substr(rest, percent - rest);
        built.after = template_text.substr(percent + 1);
    }
    return built;
}

void run_file_command(Run& run, const std::u16string& complete_path,
                      const std::u16string& directory, const std::u16string& name) {
    if (complete_path.size() > longest_argument ||
        directory.size() + name.size() > longest_argument) {
        run.std_out.printf("\nfilename/path of %s %s too long", run.sys.narrow(directory).c_str(),
                           run.sys.narrow(name).c_str());
        return;
    }
    // The template itself is never changed, so "-PATH" is found anew for
    // every file.
    std::u16string template_text = run.s.command_text;
    std::u16string argument;
    if (run.s.execute == 2) {
        argument = name;
    } else {
        // Programs get the plain path; only a path too long for them keeps
        // the long-path prefix.
        const std::u16string_view plain = run.syntax.without_long_prefix(complete_path);
        argument = plain.size() < 260 ? std::u16string(plain) : complete_path;
    }
    // The directory stands in the template as one marker character, so
    // that it can travel as a word of its own (or a quoted argument of the
    // interpreter) without any of its characters being read as syntax.
    std::u16string dir(run.syntax.without_long_prefix(directory));
    // "cd -PATH" wants the directory without its closing separator; a
    // volume root ("/", "C:\") keeps it.
    const bool root = dir.size() <= 1 || (run.syntax.drive_letters && dir.size() <= 3);
    if (!root && run.syntax.is_separator(dir.back())) dir.pop_back();
    std::size_t program_length = run.s.command_program_length;
    if (run.s.execute_cd) {
        const std::size_t at = substitute_path(template_text, std::u16string(1, directory_marker));
        if (at != std::u16string::npos && at < program_length) program_length -= 3;
    }
    BuiltCommand built = build_command(run.syntax, template_text, program_length);
    replace_marker(built.program, dir);

    run.output().flush();
    run.std_out.flush();
    run.std_err.flush();
    int status;
    // A template that chains or redirects is the interpreter's, even when
    // its first word is a program.
    const bool shell_syntax = built.before.find_first_of(u"&|;<>") != std::u16string::npos ||
                              built.after.find_first_of(u"&|;<>") != std::u16string::npos;
    if (!shell_syntax && run.sys.exists(built.program) && !run.sys.is_directory(built.program)) {
        // A program found as a file gets a real argument vector: the file
        // argument is one element that nothing parses again.
        std::vector<std::u16string> args;
        append_words(args, built.before);
        args.push_back(argument);
        append_words(args, built.after);
        for (auto& word : args) replace_marker(word, dir);
        status = run.sys.spawn(built.program, args);
    } else {
        // Text and quoted arguments alternate for the interpreter.
        std::vector<std::u16string> parts{u""};
        auto add_text = [&](std::u16string_view text) {
            for (const char16_t c : text) {
                if (c == directory_marker) {
                    parts.push_back(dir);
                    parts.emplace_back();
                } else {
                    parts.back() += c;
                }
            }
        };
        add_text(built.program + u" " + built.before + u" ");
        parts.push_back(argument);
        parts.emplace_back();
        add_text(u" " + built.after);
        status = run.sys.run_shell(parts);
    }
    if (status == -1 && !run.command_failure_reported) {
        run.command_failure_reported = true;
        run.std_err.printf("\ncould not start the command %s\n",
                           run.sys.narrow(built.program).c_str());
    }
}

}  // namespace filarix
