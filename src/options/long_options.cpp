#include "options/long_options.hpp"

#include <cstdint>

#include "options/date_arguments.hpp"
#include "platform/path_syntax.hpp"

namespace {

// Words match without regard to case on their leading letters, so
// --showlong, --SHOWLONGEST and --ShowLong=300 are all the same word.
bool begins_with_word(std::u16string_view text, std::u16string_view word) {
    return text.size() >= word.size() && platform::ascii_upper(text.substr(0, word.size())) == word;
}

// The leading decimal number of a value, held to the int range.
int leading_number(std::u16string_view value) {
    std::int64_t n = 0;
    for (const char16_t c : value) {
        if (c < u'0' || c > u'9') break;
        n = std::min<std::int64_t>(n * 10 + (c - u'0'), INT32_MAX);
    }
    return static_cast<int>(n);
}

}  // namespace

int read_long_option(Run& run, std::u16string_view text) {
    if (begins_with_word(text, u"SHOWLONG")) {
        // Long paths are sought through the whole tree, and a delimited
        // record keeps a long name importable.
        run.s.SHOWLONG = 1;
        run.s.RECURSE = 1;
        run.s.DELIM = 1;
        run.delimiter = '|';
        const std::size_t eq = text.find(u'=');
        if (eq != std::u16string_view::npos && eq + 1 < text.size())
            run.showlong_min = leading_number(text.substr(eq + 1));
        return 0;
    }
    // Every other word still draws the warning for an unknown option, and
    // parsing goes on.
    run.std_out.printf("\nIllegal or incomplete minusminus option of \"--%s\" IGNORED\n",
                       run.sys.narrow(text).c_str());
    run.std_out.put("Please check the option compatability and rerun if necessary\n");
    timed_pause(run, 3);
    return 0;
}
