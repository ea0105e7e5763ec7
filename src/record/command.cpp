#include "record/command.hpp"

#include <algorithm>

#include "core/run_end.hpp"

namespace filarix {
namespace {

// Longer arguments than this cannot reach a program on Windows, whose
// command line holds 32767 characters; the command is skipped, said so.
constexpr std::size_t longest_argument = 32000;

// Blank-separated words of a template piece. The directory goes in at
// `slot` as part of the word standing there, whatever it holds: blanks in
// it split nothing.
void append_words(std::vector<std::u16string>& words, std::u16string_view text,
                  std::size_t slot = std::u16string_view::npos, std::u16string_view dir = {}) {
    std::u16string word;
    bool open = false;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == slot) {
            word += dir;
            open = true;
        }
        if (i < text.size() && text[i] != u' ') {
            word += text[i];
            open = true;
        } else if (open) {
            words.push_back(std::move(word));
            word.clear();
            open = false;
        }
    }
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

void run_file_command(platform::System& sys, const RunSettings& s, RunStreams& streams,
                      const std::u16string& complete_path, const std::u16string& directory,
                      const std::u16string& name) {
    if (complete_path.size() > longest_argument ||
        directory.size() + name.size() > longest_argument) {
        streams.std_out.printf("\nfilename/path of %s %s too long", sys.narrow(directory).c_str(),
                               sys.narrow(name).c_str());
        return;
    }
    std::u16string argument;
    if (s.execute == 2) {
        argument = name;
    } else {
        // Programs get the plain path; only a path too long for them keeps
        // the long-path prefix.
        const std::u16string_view plain = sys.syntax().without_long_prefix(complete_path);
        argument = plain.size() < 260 ? std::u16string(plain) : complete_path;
    }
    // A name beginning with "-" would be read as an option by the program;
    // with "./" in front it is still the same file.
    if (!argument.empty() && argument.front() == u'-')
        argument.insert(0, {u'.', sys.syntax().separator});

    BuiltCommand built = build_command(sys.syntax(), s.command_text, s.command_program_length);
    // The "-PATH" of -eP becomes a place in one piece of the template where
    // the directory goes in last, after the template has been taken apart,
    // so that nothing in the directory or the file name is ever read as
    // part of the template.
    std::u16string dir(sys.syntax().without_long_prefix(directory));
    // "cd -PATH" wants the directory without its closing separator; a
    // volume root ("/", "C:\") keeps it.
    const bool root = dir.size() <= 1 || (sys.syntax().drive_letters && dir.size() <= 3);
    if (!root && sys.syntax().is_separator(dir.back())) dir.pop_back();
    std::u16string* holder = nullptr;
    std::size_t slot = std::u16string::npos;
    if (s.execute_cd)
        for (std::u16string* piece : {&built.program, &built.before, &built.after})
            if ((slot = substitute_path(*piece, {})) != std::u16string::npos) {
                holder = piece;
                break;
            }
    std::u16string program = built.program;
    if (holder == &built.program) program.insert(slot, dir);

    streams.output().flush();
    streams.std_out.flush();
    streams.std_err.flush();
    int status;
    // A template that chains or redirects is the interpreter's, even when
    // its first word is a program.
    const bool shell_syntax = built.before.find_first_of(u"&|;<>") != std::u16string::npos ||
                              built.after.find_first_of(u"&|;<>") != std::u16string::npos;
    if (!shell_syntax && sys.exists(program) && !sys.is_directory(program)) {
        // A program found as a file gets a real argument vector: the file
        // argument is one element that nothing parses again.
        std::vector<std::u16string> args;
        append_words(args, built.before, holder == &built.before ? slot : std::u16string::npos,
                     dir);
        args.push_back(argument);
        append_words(args, built.after, holder == &built.after ? slot : std::u16string::npos, dir);
        status = sys.spawn(program, args);
    } else {
        // Text and quoted arguments alternate for the interpreter; the
        // directory is a quoted argument wherever it stands.
        std::vector<std::u16string> parts{u""};
        auto add_text = [&](std::u16string_view text, const std::u16string* piece) {
            if (holder != piece) {
                parts.back() += text;
                return;
            }
            // The piece follows the one blank every text here begins with,
            // except the program, which begins the first.
            const std::size_t at = slot + (piece == &built.program ? 0 : 1);
            parts.back() += text.substr(0, at);
            parts.push_back(dir);
            parts.emplace_back(text.substr(at));
        };
        add_text(built.program, &built.program);
        add_text(u" " + built.before, &built.before);
        parts.back() += u' ';
        parts.push_back(argument);
        parts.emplace_back();
        add_text(u" " + built.after, &built.after);
        status = sys.run_shell(parts);
    }
    if (status == -1 && streams.notices.first(OnceNotice::command_start_failed)) {
        streams.std_err.printf("\ncould not start the command %s\n", sys.narrow(program).c_str());
    }
    // An interrupt that ended the command ends the run here, even after
    // the last file, instead of passing for a normal end.
    if (sys.interrupted()) end_run(exit_code::user_aborted);
}

}  // namespace filarix
