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

// Prints the banner box on standard error; returns the box lines printed.
int print_banner(Run& run);

// One run's help screens: the page budget and the page counter.
class HelpScreens {
public:
    // With `prompts` off (--help without a keyboard) the screens follow each
    // other without waiting.
    HelpScreens(Run& run, bool prompts);
    // Fills the page, asks for a key from the second page on, scrolls and
    // writes the banner; returns the lines now on the page.
    int help_page_break(int lines);
    int page_lines() const { return page_lines_; }

private:
    Run& run_;
    bool prompts_;
    int page_lines_;
    int page_counter_ = 0;
};

// All help screens on standard error; the caller ends the run afterwards.
// A key x, X, Esc or Ctrl+C at a prompt, or no keyboard to answer it, ends
// the process with status 6. `help_option` (--help) prints every screen
// without a keyboard.
void show_help(Run& run, bool help_option = false);
int show_local_help(Run& run, HelpScreens& screens, int lines);

}  // namespace filarix
