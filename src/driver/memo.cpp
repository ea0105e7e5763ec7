#include "driver/memo.hpp"

#include <memory>
#include <string>

#include "core/shown_text.hpp"

namespace filarix {

namespace {

// Cuts a line to the line buffer, never through the middle of a UTF-8
// character.
void cut_to_line_buffer(std::string& line) {
    if (line.size() <= memo_line_limit) return;
    std::size_t cut = memo_line_limit;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
}

}  // namespace

void memo_prompt(Run& run) {
    run.std_err.put("\n\n\nInput up to 2000 characters of your memo information now.\n");
    run.std_err.printf("End with two blank lines (carriage returns)%c\n\n\n", 7);
    run.std_out.flush();
    run.std_err.flush();

    std::string line;
    int blanks = 0;
    while (!run.sys.interrupted() && run.sys.read_line(line)) {
        if (line.empty()) {
            // One blank line is part of the memo; the second one ends it.
            if (++blanks >= 2) break;
            run.memo_text += '\n';
            continue;
        }
        blanks = 0;
        cut_to_line_buffer(line);
        run.memo_text += line;
        run.memo_text += '\n';
        if (run.memo_text.size() > memo_text_limit) break;
    }
    // Ctrl+C at the prompt ends the run at once, not after two blank lines.
    if (run.sys.interrupted()) end_run(exit_code::user_aborted);
}

void open_memo_file(Run& run, std::u16string_view full_name) {
    std::u16string name(full_name);
    if (name.empty()) {
        const auto chosen = run.sys.choose_file(platform::DialogKind::output_file);
        if (!chosen || chosen->empty()) return;
        const auto full = run.sys.full_path(*chosen);
        name = full ? *full : *chosen;
    }
    // A second memo file replaces the first.
    if (run.memo_file) {
        run.memo_file->close();
        run.memo_file.reset();
    }
    auto sink = run.sys.open_text(name, platform::OpenMode::append);
    if (!sink) {
        run.std_out.printf("\nCan't open memo file %s\n", shown_name(run.sys, name).c_str());
        return;
    }
    run.memo_file = std::make_unique<OutStream>(std::move(sink));
}

}  // namespace filarix
