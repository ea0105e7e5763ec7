// What reading the settings asks to have done. The sources only append
// here; the driver performs each action at the point it was asked for, so
// that every message, prompt and file effect keeps its place.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/run_settings.hpp"

namespace filarix {

struct Run;

// A real wait of whole seconds after a warning, the console flushed first
// so that the warning is seen during it.
struct PauseAction {
    int seconds = 0;
};

// The next label of the DISKLABL counter, stored back in the file, becomes
// the volume label, cut to `kept` characters.
struct NextLabelAction {
    std::size_t kept = 0;
};

// The known digests of a hash set file, loaded now so that a file that
// cannot be read ends the run before anything is listed.
struct LoadHashSetAction {
    std::u16string path;
};

// The signatures of the header file the settings name.
struct LoadSignaturesAction {};

// The accounting log becomes this file: the one open is closed first.
struct OpenLogAction {
    std::u16string name;
};

// The open log, when there is one, takes its last lines and is closed.
struct CloseLogAction {
    std::string last_lines;
};

// A file the run needs must be there to be read; the run ends at once,
// naming it as given, when it is not.
struct RequireFileAction {
    std::u16string path;
    std::u16string given;
};

// The memo file is opened now, so that a name the file system refuses is
// reported before the walk rather than after it. With no name the file
// dialog asks for one.
struct OpenMemoAction {
    std::u16string name;
};

// The memo is typed now, when the memo file or the log can take it.
struct MemoPromptAction {};

// The output name's date, time or computer-name mask is filled in from
// the run's start time.
struct DateOutputNameAction {};

// An age bound given as a date becomes whole days before the run's time.
struct AgeFromDateAction {
    DateValue date;
    bool older = false;  // the older bound, else the newer one
};

// The help screens: `asked` by -? or --help rather than after a fault;
// `answer`, the run's whole answer (--help), so that a help that did not
// arrive whole ends the run with a write error.
struct ShowHelpAction {
    bool asked = false;
    bool answer = false;
};

using ParseAction =
    std::variant<PauseAction, NextLabelAction, LoadHashSetAction, LoadSignaturesAction,
                 OpenLogAction, CloseLogAction, RequireFileAction, OpenMemoAction, MemoPromptAction,
                 DateOutputNameAction, AgeFromDateAction, ShowHelpAction>;

// The INI file as the driver found it: its lines, and the section header
// of the program's own settings (empty: the whole file is the program's).
struct IniFileText {
    std::vector<std::string> lines;
    std::string section;
};

// What a source may look up in the world it reads: a name as a full path
// (nothing when it cannot be one), an environment variable, the computer's
// name, the INI file (nothing when there is none to read), whether a path
// is there and is a directory, and a program (name, extension) found on the
// search path; and the system's 8-bit form of text and back. The driver
// sets them; without them names stay as given, nothing is set or found, and
// the 8-bit form is UTF-8.
struct SourceLookups {
    std::function<std::optional<std::u16string>(std::u16string_view)> full_path;
    std::function<std::optional<std::u16string>(std::u16string_view)> environment;
    std::function<std::optional<std::u16string>()> computer_name;
    std::function<std::optional<IniFileText>()> ini_file;
    std::function<bool(std::u16string_view)> exists;
    std::function<bool(std::u16string_view)> is_directory;
    std::function<std::optional<std::u16string>(std::u16string_view, std::u16string_view)>
        find_program;
    std::function<std::string(std::u16string_view)> narrow;
    std::function<std::u16string(std::string_view)> wide;
};

struct ParseActions {
    std::vector<ParseAction> list;  // every action asked for, in order
    std::size_t performed = 0;      // how many of them have been done
    // Set by the driver; without it (a source on its own) actions are only
    // listed.
    std::function<void(Run&)> perform;
    SourceLookups lookups;
};

// Appends the action and has it performed at once when a performer is set.
void ask_action(Run& run, ParseAction action);

// The lookups, as the driver answers them.
std::optional<std::u16string> resolved_path(const Run& run, std::u16string_view name);
// The full path, or the name as given when it cannot be one.
std::u16string full_path_or_name(const Run& run, std::u16string_view name);
std::optional<std::u16string> environment_value(const Run& run, std::u16string_view name);
std::optional<std::u16string> computer_name(const Run& run);
std::optional<IniFileText> ini_file_text(const Run& run);
bool path_exists(const Run& run, std::u16string_view path);
bool path_is_directory(const Run& run, std::u16string_view path);
// Text in the system's 8-bit form and back; a name as messages show it,
// control characters masked.
std::string narrow_text(const Run& run, std::u16string_view text);
std::u16string wide_text(const Run& run, std::string_view text);
std::string shown_text(const Run& run, std::u16string_view name);
std::optional<std::u16string> program_on_search_path(const Run& run, std::u16string_view name,
                                                     std::u16string_view extension);

}  // namespace filarix
