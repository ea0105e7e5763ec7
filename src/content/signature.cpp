#include "content/signature.hpp"

#include <span>

#include "content/digests.hpp"
#include "content/signature_table.hpp"

namespace filarix {

namespace {

// The number the read-failure message carries; fixed from one build to the next.
constexpr int header_read_error_number = 118;

// The text after the last dot of the path's last component, as the
// runtime's path splitter gives it.
std::u16string_view extension_of(const platform::PathSyntax& syntax, std::u16string_view path) {
    const std::size_t sep = syntax.last_separator(path);
    const std::u16string_view name = sep == std::u16string_view::npos ? path : path.substr(sep + 1);
    const std::size_t dot = name.rfind(u'.');
    return dot == std::u16string_view::npos ? std::u16string_view{} : name.substr(dot + 1);
}

}  // namespace

void load_header_file(Run& run) {
    const std::string shown = run.sys.narrow(run.s.header_file);
    // A table that cannot be read ends the run as a missing input file does:
    // the checks it was asked for cannot be made.
    auto file = run.sys.open_read(run.s.header_file, false);
    if (!file) {
        run.std_err.printf("\nYour header file %s is not capable of being read from.",
                           shown.c_str());
        run.std_err.put("\nMake certain the file exists and is readable.\n");
        end_run(exit_code::input_file);
    }
    std::string contents;
    char chunk[65536];
    for (;;) {
        const long long got = file->read(chunk, sizeof chunk);
        if (got < 0) {
            // A table read only in pieces would check files against the wrong entries.
            run.std_out.printf("%d Can't open header file named %s\n", header_read_error_number,
                               shown.c_str());
            end_run(exit_code::input_file);
        }
        if (got == 0) break;
        contents.append(chunk, static_cast<std::size_t>(got));
    }
    file.reset();

    HeaderFileLoad load = parse_header_file(contents);
    for (const std::string& message : load.messages) run.std_err.put(message);
    if (load.too_many_lines) end_process(run, exit_code::input_file);
    run.signature_table = std::move(load.table);
}

int check_file_type(Run& run, std::u16string_view path, std::uint64_t size,
                    std::string& category_text, int& extension_mismatch, int& signature_matched) {
    extension_mismatch = 1;
    category_text = "   ";
    if (!run.signature_window)
        run.signature_window = std::make_unique<unsigned char[]>(signature_window_size);
    auto file = open_for_read(run.sys, path);
    // A file that cannot be read whole up to the window is not examined:
    // a type taken from a piece of its start could be wrong.
    const long long got =
        file ? file->read_whole(run.signature_window.get(), signature_window_size) : -1;
    file.reset();
    if (got < 0) {
        run.std_err.printf("\ncan't open %s\n", run.sys.narrow(path).c_str());
        category_text = "XXX";
        return 0;
    }
    const FileTypeCheck check = check_signatures(
        run.signature_table, extension_of(run.syntax, path), size,
        std::span<const unsigned char>(run.signature_window.get(), static_cast<std::size_t>(got)),
        run.s.signature_check);
    category_text = check.category;
    // The category comes from the user's table; no character of it may
    // break the record apart.
    for (char& c : category_text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    extension_mismatch = check.extension_mismatch;
    if (check.signature_matched) signature_matched = 1;
    return check.result;
}

}  // namespace filarix
