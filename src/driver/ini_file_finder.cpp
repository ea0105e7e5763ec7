#include "driver/ini_file_finder.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "platform/console_lines.hpp"

namespace filarix {

namespace {

// Lines are upper-cased byte by byte, ASCII letters only, as the INI
// source compares them.
std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Lines of a file, read in blocks; each line as the console reader cuts it.
class LineReader {
public:
    explicit LineReader(platform::InputFile& file) : file_(file) {}

    bool next(std::string& line) {
        return platform::read_line_with([this] { return next_byte(); }, line);
    }

private:
    int next_byte() {
        if (at_ == size_) {
            if (ended_) return -1;
            const long long got = file_.read(buffer_, sizeof buffer_);
            if (got <= 0) {
                ended_ = true;
                return -1;
            }
            at_ = 0;
            size_ = static_cast<std::size_t>(got);
        }
        return static_cast<unsigned char>(buffer_[at_++]);
    }

    platform::InputFile& file_;
    char buffer_[4096];
    std::size_t at_ = 0;
    std::size_t size_ = 0;
    bool ended_ = false;
};

struct Place {
    std::u16string path;
    std::string section;  // empty: the whole file
};

std::u16string joined(const Run& run, std::u16string_view directory, std::u16string_view name) {
    std::u16string path(directory);
    if (!path.empty() && !run.syntax.is_separator(path.back())) path += run.syntax.separator;
    return path + std::u16string(name);
}

std::u16string file_stem(const Run& run, std::u16string_view path) {
    const std::size_t sep = run.syntax.last_separator(path);
    std::u16string name(path.substr(sep == std::u16string_view::npos ? 0 : sep + 1));
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.resize(dot);
    return name;
}

// The six places in the order they are tried: the program's own name, the
// shared file with the program's section, then the program's usual name,
// each in the current directory before the program's directory.
std::vector<Place> ini_places(Run& run) {
    const std::u16string executable = run.sys.executable_path();
    const std::u16string program =
        run.program_name.empty() ? file_stem(run, executable) : run.program_name;
    const std::size_t sep = run.syntax.last_separator(executable);
    const std::u16string program_dir =
        sep == std::u16string::npos ? std::u16string() : executable.substr(0, sep + 1);
    const std::u16string current = run.sys.current_directory().value_or(u"");

    std::string section(1, '[');
    section += upper(run.sys.narrow(program));
    section += ']';
    std::vector<Place> places;
    auto both = [&](std::u16string_view name, const std::string& section_of) {
        places.push_back({joined(run, current, name), section_of});
        places.push_back({joined(run, program_dir, name), section_of});
    };
    both(program + u".ini", {});
    both(u"QUORVANE.INI", section);
    both(u"FILARIX64.ini", {});
    return places;
}

}  // namespace

std::optional<IniFileText> find_and_read_ini_file(Run& run) {
    const Place* found = nullptr;
    const std::vector<Place> places = ini_places(run);
    for (const Place& place : places)
        if (run.sys.exists(place.path) && !run.sys.is_directory(place.path)) {
            found = &place;
            break;
        }
    if (found == nullptr) return std::nullopt;

    const auto file = run.sys.open_read(found->path, false);
    if (!file) {
        run.std_out.put("\nCouldn't open .ini file\n");
        run.std_out.flush();
        run.std_err.flush();
        std::string enter;
        run.sys.read_line(enter);
        return std::nullopt;
    }
    IniFileText text;
    text.section = found->section;
    LineReader reader(*file);
    std::string line;
    while (reader.next(line)) text.lines.push_back(line);
    return text;
}

}  // namespace filarix
