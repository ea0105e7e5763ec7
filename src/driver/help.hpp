// The help screens, the banner and the version text.
#pragma once

#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

// Writes (80 - length) / 2 blanks and the text; returns the characters written.
int centre_line(OutStream& out, std::string_view text);

// "YY.MM.DD.hh.mm" from the compiler's build date ("Jan 14 2024") and time
// ("15:42:16"), followed by the suffix.
std::string build_version(std::string_view date, std::string_view time,
                          std::string_view suffix = {});

// Prints the banner box (after blank lines that scroll the screen clear,
// unless told otherwise); returns the box lines printed.
int print_banner(Run& run, OutStream& out, bool clear_screen = true);

// One run's help screens. Where a person reads them and can answer (a
// keyboard on standard input and the help's stream on the console), each
// screen is filled to the page, waits for a key from the second on, and is
// scrolled clear under the banner. Anywhere else the help is one text with
// no pause and no blank lines to clear a screen.
class HelpScreens {
public:
    HelpScreens(Run& run, OutStream& out);
    // Ends one screen and starts the next (the first: only starts it);
    // returns the lines now on the page.
    int help_page_break(int lines);
    int page_lines() const { return page_lines_; }
    OutStream& out() const { return out_; }
    bool paged() const { return paged_; }

private:
    Run& run_;
    OutStream& out_;
    bool paged_;
    int page_lines_;
    int page_counter_ = 0;
};

// All help screens. `asked` (-?, --help): to standard output when that is
// not the console, else to standard error, where help that comes with an
// option fault always goes. A key x, X, Esc or Ctrl+C at a prompt, or the
// end of input there, ends the process with status 6. False when the help
// could not be written whole; the caller ends the run afterwards.
bool show_help(Run& run, bool asked = false);
int show_local_help(HelpScreens& screens, int lines);

}  // namespace filarix
