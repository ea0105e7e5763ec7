#include "driver/help.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/digest_registry.hpp"

namespace filarix {
namespace {

// Characters of the banner box: the Windows console shows code page 437,
// other consoles UTF-8.
struct BoxChars {
    std::string top_left, horizontal, top_right, vertical, bottom_left, bottom_right, check;
};

BoxChars box_chars(const Run& run) {
    if (run.syntax.drive_letters) return {"\xC9", "\xCD", "\xBB", "\xBA", "\xC8", "\xBC", "\xFB"};
    return {"\u2554", "\u2550", "\u2557", "\u2551", "\u255A", "\u255D", "\u221A"};
}

// Characters a text occupies on the console (UTF-8 sequences count once).
int columns_of(std::string_view text) {
    int n = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

int count_lines(std::string_view text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

constexpr std::string_view module_names[] = {"driver.cpp", "command_line.cpp", "help.cpp"};

}  // namespace

int centre_line(OutStream& out, std::string_view text) {
    const int width = columns_of(text);
    const int blanks = std::max(0, (80 - width) / 2);
    out.put(std::string(static_cast<std::size_t>(blanks), ' '));
    out.put(text);
    return blanks + width;
}

std::string build_version(std::string_view date, std::string_view time, std::string_view suffix) {
    static constexpr std::string_view months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    int month = 0;
    if (date.size() >= 3) {
        const std::size_t at = months.find(date.substr(0, 3));
        if (at != std::string_view::npos && at % 3 == 0) month = static_cast<int>(at / 3) + 1;
    }
    std::string day = date.size() >= 6 ? std::string(date.substr(4, 2)) : std::string("00");
    if (day[0] == ' ') day[0] = '0';
    const std::string year = date.size() >= 11 ? std::string(date.substr(9, 2)) : "00";
    const std::string hour_minute =
        time.size() >= 5 ? std::string(time.substr(0, 2)) + "." + std::string(time.substr(3, 2))
                         : "00.00";
    char text[48];
    std::snprintf(text, sizeof text, "%s.%02d.%s.%s", year.c_str(), month, day.c_str(),
                  hour_minute.c_str());
    return std::string(text) + std::string(suffix.substr(0, 48 - 15));
}

int print_banner(Run& run, OutStream& out, bool clear_screen) {
    const BoxChars b = box_chars(run);
    if (clear_screen) out.put(std::string(28, '\n'));
    std::string horizontal;
    for (int i = 0; i < 74; ++i) horizontal += b.horizontal;
    // A text line: the frame with the text over its middle.
    auto text_line = [&](std::string_view text) {
        const int width = columns_of(text);
        const int start = 38 - width / 2;  // from the box's left edge, counted from 0
        std::string line = b.vertical;
        line += std::string(static_cast<std::size_t>(std::max(0, start - 1)), ' ');
        line += text;
        line += std::string(static_cast<std::size_t>(std::max(0, 74 - (start - 1) - width)), ' ');
        line += b.vertical;
        return line;
    };
    const std::string lines[] = {
        b.top_left + horizontal + b.top_right,
        text_line("FILARIX64"),
        text_line("Ver. " + build_version(__DATE__, __TIME__, b.check) + " (64 bit unicode) "),
        text_line(""),
        b.bottom_left + horizontal + b.bottom_right,
    };
    for (const auto& line : lines) {
        centre_line(out, line);
        out.put("\n");
    }
    return static_cast<int>(std::size(lines));
}

HelpScreens::HelpScreens(Run& run, OutStream& out)
    : run_(run),
      out_(out),
      paged_(run.sys.input_is_terminal() && out.is_terminal()),
      page_lines_(std::max(run.sys.console_rows(), 25) - 8) {}

int HelpScreens::help_page_break(int lines) {
    constexpr int heading_lines = 5 + 2;  // the banner box and the blank lines after it
    if (!paged_) {
        // One text for a pager or a file: the banner heads it once and each
        // later screen follows after an empty line, with nothing to wait for.
        if (page_counter_++ == 0) print_banner(run_, out_, false);
        out_.put("\n");
        return heading_lines;
    }
    for (; lines < page_lines_; ++lines) out_.put("\n");
    if (page_counter_ != 0) {
        out_.put("\n");
        centre_line(out_, "RETURN TO CONTINUE, ^C or x==exit");
        out_.flush();
        const int key = run_.sys.read_key();
        const int upper = key >= 0 && key < 128 ? std::toupper(key) : key;
        if (key < 0 || upper == 3 || upper == 27 || upper == 'X')
            end_process(run_, exit_code::illegal_option);
    }
    ++page_counter_;
    out_.put(std::string(24, '\n'));
    out_.put("\n\n");
    const int heading = print_banner(run_, out_);
    out_.put("\n\n");
    return heading + 2;
}

namespace {

// Writes the help text in groups, breaking the screen between them.
class HelpWriter {
public:
    HelpWriter(HelpScreens& screens, int lines, int page)
        : out_(screens.out()), screens_(screens), lines_(lines), page_(page) {}

    // A group that must stay together starts a fresh screen when it would
    // not fit; `fresh` groups always do.
    void group(std::string_view text, bool together = false, bool fresh = false) {
        const int n = count_lines(text);
        if (fresh || lines_ >= page_ || (together && lines_ + n > page_))
            lines_ = screens_.help_page_break(lines_);
        out_.put(text);
        lines_ += n;
    }
    void page_break() { lines_ = screens_.help_page_break(lines_); }
    int lines() const { return lines_; }

private:
    OutStream& out_;
    HelpScreens& screens_;
    int lines_;
    int page_;
};

}  // namespace

namespace {

// The longer digests' options and names, as the registry lists them.
std::string longer_digests_line() {
    std::string options;
    std::string names;
    for (const DigestRow& row : digest_rows) {
        if (!row.help_group) continue;
        if (!options.empty()) {
            options += ", ";
            names += ", ";
        }
        options.append("--").append(row.option);
        names.append(row.name);
    }
    return options + "  include " + names + " hash values\n";
}

}  // namespace

int show_local_help(HelpScreens& screens, int lines) {
    // The program's own screens break at 18 lines, whatever the console.
    HelpWriter w(screens, lines, 18);
    screens.out().printf("These are local options for the %s program\n", "FILARIX");
    w.group(
        "-c:             include the CRC-32 of each file [CRC=ON]\n"
        "HASH=ON         can only be set in the INI file\n",
        true);
    w.group(
        "-C comment[:xx] add a comment column, xx characters wide\n"
        "-C COMPUTERNAME the computer's name as the comment; --comment=text\n",
        true);
    w.group(
        "-A[dDehrsm]     select by attribute: d include DIRECTORY records,\n"
        "                D DIR_ONLY (directories only), h hidden, r read-only,\n"
        "                s system, m modified (archive), e encrypted\n",
        true);
    w.group("-ostdout        write the listing to standard output\n", true);
    w.group(
        "-5, --MD5, --HASH  include MD5 (128 bit) hash values\n"
        "--SHA           include SHA1 (160 bit) hash values\n" +
            longer_digests_line() +
            "--XXH3          include XXH3-128 fingerprints (quick; not a security digest);\n"
            "                a set of them is one xxhsum -H2 --tag wrote\n"
            "--BLAKE3        include BLAKE3 (256 bit) hash values; a set of them is\n"
            "                tagged lines: BLAKE3 (name) = digits\n"
            "--HASHSET=file  compare each digest with a set of known digests;\n"
            "                --KNOWN lists the files in the set, --UNKNOWN the others\n"
            "--DIFF=file     compare the tree with an earlier CSV or JSONL listing or a\n"
            "                checksum file: change column . unchanged, A added,\n"
            "                R removed, M moved, C changed; --CHANGED lists only changes\n"
            "--REUSE=file    take the digests of unchanged files from an earlier CSV or\n"
            "                JSONL listing instead of reading them (resumes a run)\n"
            "--DB=file       also write the run into an SQLite database [DB=file];\n"
            "                --DIFF and --REUSE read its latest complete run;\n"
            "                --DB=postgresql://... writes it into a PostgreSQL server\n",
        true);
    w.group("-F:             fixed-length records [FIXED=ON]\n", true);
    w.group(
        "-e command      run a command for every listed file; % in the command\n"
        "                stands for the file's complete path (at the end without one)\n"
        "-E command      the same with the bare file name\n"
        "-eP, -EP        also replace -PATH in the command by the file's directory\n"
        "                Every name reaches the command as one literal argument.\n",
        true);
    w.group("-N:             the path only, without the file name [PPATHONLY=ON]\n", true);
    w.group(
        "-u:             include the owner of each file [OWNER=ON]\n"
        "-U username     list only the files owned by username\n",
        true);
    w.group(
        "[+-][Hh] file   check each file's signature against the signature file:\n"
        "                -h categorise, +h show mis-named files,\n"
        "                -H select mis-named files only, +H select and show them\n",
        true);
    w.group(
        "-I serial       the volume serial or label to show [LABEL=], at most 9 characters\n"
        "-i:             take the label from the DISKLABL file\n",
        true);
    w.group(
        "--ziplog        list the members of ZIP archives after their archive\n"
        "--ziplog=file   list them in a file of their own\n"
        "--utf8          write the listing in UTF-8\n"
        "--NOCHILD       do not descend below the start directories' children\n"
        "--RENCHILD      rename nothing; report children that need it\n",
        true);
    w.group(
        "-g and -l date checks take a time kind: a access, c creation, w write,\n"
        "                for example -l01-31-2024w\n",
        true);
    w.group(
        "-y[ncymd]       sort the finished listing file\n"
        "Mulit-sort Options are sorted in order they appear.\n"
        "Lowercase == ascending, uppercase==descending sort order\n",
        true);
    w.group(
        "-v:             no header lines\n"
        "-V, --variable  variable-length records [VAR=ON]\n",
        true);
    w.group(
        "The default \"short\" record length of the output of FILARIX is 81 characters.\n"
        "With -F every record has the fixed length of its columns.\n",
        true);
    w.page_break();
    return w.lines();
}

bool show_help(Run& run, bool asked) {
    // Help asked for goes to standard output when that leads to a pager or
    // a file; help that comes with an option fault stays with the messages.
    OutStream& out = asked && !run.std_out.is_terminal() ? run.std_out : run.std_err;
    HelpScreens screens(run, out);
    HelpWriter w(screens, screens.help_page_break(0), screens.page_lines());
    const bool streams = run.s.STREAM != 0;
    w.group(
        "-.ini           do not read the INI file\n"
        "-p paths        start paths [PATH=], also \\\\server\\share\\dir; --path=\n"
        "-r:             recurse into subdirectories [RECURSE=], environment RECURSE\n"
        "--recurse, --recurse=[ON|OFF], --norecurse\n",
        true);
    w.group(
        "-f masks        files to list [FILES=], default *.*; --filetype=\n"
        "-x masks        files to leave out [EXCLUDE=]; --exclude=\n",
        true);
    w.group(
        "--PRUNE=glob    neither enter nor list the directories whose name or path\n"
        "                below the start path matches: * ? within a name, ** across\n"
        "                [PRUNE=], one glob a line\n"
        "--DEPTH=n       files and directories down to n levels [DEPTH=]\n"
        "--ONEFS         do not enter other file systems mounted below a start\n"
        "                path [ONEFS=ON]\n"
        "--NUL           full paths, each ended by a NUL byte, exact, in place of\n"
        "                records (to standard output unless -o names a file);\n"
        "                for xargs -0; no header, no sort, no CSV [NUL=ON]\n",
        true);
    char stream_line[200];
    std::snprintf(stream_line, sizeof stream_line,
                  "-S:             %sshow Alternate Data Streams (ADS). Default = "
                  "%sshow.[STREAM=[ON|OFF]]\n     see also: --NO_ADS\n",
                  streams ? "DO NOT " : "", streams ? "to " : "DON'T ");
    w.group(std::string("--showlong, --showlong=xx  show long paths in full (add --UTF8);\n"
                        "                implies -V unless -w is given\n"
                        "--ADSONLY       list only the alternate data streams\n"
                        "--NO_ADS, --NOADS, --NO-ADS  no alternate data streams\n") +
                stream_line + "--stream, --stream=[ON|OFF]\n",
            true);
    w.group(
        "-o output       listing file [OUTPUT=]; -O output appends (implies -a); --output=\n"
        "-oO [name]YY[YY][MMDDhhmmss[-]=name][Gg]  an output name from the date\n"
        "    FILARIX64 -oOYYYYMMDD -p c:\\\n"
        "    FILARIX64 -oOlistYYMMDDhhmm -r\n"
        "    FILARIX64 -oOYYYYMMDD-=case7G -r\n"
        "    with the YY forms append and no headers are always on\n"
        "--PNAME         prefix the output name with the program name (FILARIX64_20231112)\n",
        true, true);
    w.group(
        "-a:             append to the listing file [APPEND=]; --append\n"
        "-d #            column delimiter [DELIMETER=\"|\"]; --delimeter=\n"
        "                environment and INI DELIMITER\n",
        true);
    w.group(
        "-w #            path column width [WIDTH=]; default 80 for the full path and\n"
        "                15 for -n; see -M and -V; INI and environment WIDTH\n",
        true);
    w.group(
        "-g # or date[acw]  files older than # days or the date [OLDER=];\n"
        "                --older=, --before=\n"
        "-l # or date[acw]  files newer than # days or the date [NEWER=];\n"
        "                --younger=, --newer=, --after=\n"
        "                [acw]: access, creation or write time; dates as mm-dd-yyyy\n"
        "                example: -l30 -g01-31-2024w\n"
        "--AND           both -g and -l must hold\n",
        true, true);
    w.group(
        "-G #            files greater than # bytes [GREATER=]; --greater=, --bigger=\n"
        "-L #            files less than # bytes [LESSTHAN=]; --lessthan=, --smaller=\n",
        true);
    w.group(
        "-n:             the name only [NAME=ON]\n"
        "-N:             the path only [PPATHONLY=ON]\n"
        "--nameafter[=xx]  the name after the path, xx wide\n"
        "-w0, --width=#  the path column's width\n"
        "-V, --variable  variable-length records [VAR=ON]\n"
        "-M:             the width from the longest path [AUTO=]\n",
        true);
    w.group(
        "--sequence[=####]  number the records (always 6 characters wide)\n"
        "-C comment, -C COMPUTERNAME  a comment column\n",
        true);
    w.group(
        "--CSV           RFC 4180 CSV rows with a header row, names exact\n"
        "--JSONL         one JSON object per line, the same fields\n"
        "--PROGRESS      count first, then show files, bytes, % and time left\n"
        "--TREESIZE      with -Ad, each directory's files and bytes below it:\n"
        "                CSV/JSONL rows after the subtree, text lines\n"
        "                \"Tree totals: N files, B bytes: PATH\" [TREESIZE=ON]\n"
        "--DUPES         only files whose contents another listed file has, led by\n"
        "                their group's number (dupe_group); hard links are one\n"
        "                file, empty files no duplicates [DUPES=ON]\n",
        true);
    w.group(
        "-1 file         accounting log [ACCT=], environment ACCT;\n"
        "                --accounting=, --logfile=\n"
        "--memo[=file]   a memo typed at the start [MEMO=]\n"
        "--UNICODE=file  a UTF-16 copy of the listing\n",
        true);
    w.group(
        "-[Tt][aAcCwW]   the time shown: access, creation or write [TIME=]\n"
        "-[Tt]3          all three times [ALLTIMES=ON]; -t0 no time\n"
        "                T: year-first dates [REVERSE]; upper-case ACW: seconds\n"
        "                a trailing dot: a leading quote before the date (spreadsheets)\n"
        "-[Zz], --ZULU=[ON|OFF]  UTC times [ZULU=ON]; --reverse=on\n"
        "--MILLI         milliseconds [MILLI=ON]; --MILLI+\n",
        true, true);
    w.group(
        "-R:             restore access times after reading (environment RESET);\n"
        "                --reset, --reset=[ON|OFF]\n",
        true);
    w.group(
        "-8:             8.3 names; -88 both names; -88xx, -88xxPRE\n"
        "                do not confuse --ext with -e\n",
        true);
    w.group(
        "Dates: -l7 files of the last week; -g01-01-2020c created before 2020\n"
        "-?, --help      these screens\n",
        true);
    w.group("-@:             the licence notice\n", true);
    w.group("INI specific settings\n\n", true, true);
    w.group(
        "CATEGORY=ON     the signature category column\n"
        "SPLIT=xxx       xxx records per listing file (with -1 logfile; -v no headers)\n"
        "HASH=ON         MD5 hash values\n",
        true);
    w.group("-D #[,#]        displace the columns [DISPLACE=]\n", true);
    w.page_break();
    out.put(" Next is help specific to this program\n\n");
    show_local_help(screens, w.lines() + 2);
    for (std::size_t i = 0; i < std::size(module_names); ++i) {
        if (i == 0) out.put(screens.paged() ? "\n\n" : "\n");
        out.printf("%12s last updated: %s %s\n", std::string(module_names[i]).c_str(), __DATE__,
                   __TIME__);
    }
    out.put("\n");
    return out.flush() && !out.failed();
}

}  // namespace filarix
