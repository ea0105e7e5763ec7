#include "core/log_file.hpp"

#include <new>

#include "core/shown_text.hpp"

namespace filarix {

namespace {

constexpr const char* source_tag = "Generic_64";
// The numbers the error messages carry; fixed, so that a note about one
// stays true from one build to the next.
constexpr int open_error_number = 52;
constexpr int memory_error_number = 60;
// The row of asterisks that opens each block.
constexpr const char* asterisks = "*****************************************************";
// The end clean-up reads the log in blocks of this size.
constexpr std::size_t scan_block = 64 * 1024;

// The drive and directory part of a path ("C:\logs\" of "C:\logs\run.log").
std::u16string directory_part(const platform::PathSyntax& syntax, std::u16string_view path) {
    const std::size_t drive = syntax.drive_letters && path.size() >= 2 && path[1] == u':' ? 2 : 0;
    const std::size_t sep = syntax.last_separator(path);
    if (sep == std::u16string_view::npos || sep < drive)
        return std::u16string(path.substr(0, drive));
    return std::u16string(path.substr(0, sep + 1));
}

// False when the log's directory is missing and could not be made.
bool make_log_directory(Run& run, std::u16string_view name) {
    std::u16string directory = directory_part(run.syntax, name);
    if (directory.empty()) return true;  // the current directory
    if (run.syntax.is_separator(directory.back())) directory.pop_back();
    if (directory.empty() || run.sys.exists(directory)) return true;
    // Each missing level is made in turn; only levels really made are
    // reported, so a path that cannot be made shows no false message.
    for (std::size_t i = 2; i < directory.size(); ++i) {
        if (!run.syntax.is_separator(directory[i])) continue;
        const std::u16string partial = directory.substr(0, i);
        if (run.sys.exists(partial) || !run.sys.create_directory(partial)) continue;
        run.std_out.printf("Creating (log\\error) directory:  %s\n",
                           shown_name(run.sys, partial).c_str());
    }
    if (!run.sys.create_directory(directory)) return false;
    run.std_out.printf("Creating (log) directory:  %s\n", shown_name(run.sys, directory).c_str());
    run.sys.sleep_ms(1000);
    return true;
}

// A log whose end was damaged (a crash left zero bytes, an old editor a
// Ctrl+Z) loses that padding, so that the new block follows readable text.
// Only a tail made of nothing but such bytes is padding: a file with text
// after them (a program named as the log by mistake) is left whole.
void clean_log_end(Run& run, std::u16string_view name) {
    auto file = run.sys.open_update(name, false);
    if (!file) file = run.sys.open_update(name, true);
    if (!file) {
        // A device such as /dev/null takes the log and keeps no end to clean.
        const auto sink = run.sys.open_text(name, platform::OpenMode::append);
        if (sink && sink->is_device()) return;
        run.std_err.printf("\n%s\n%d\nerror opening %s\n", source_tag, open_error_number,
                           shown_name(run.sys, name).c_str());
        end_run(exit_code::output_file);
    }
    const auto size = file->size();
    if (!size || *size < 10) return;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[scan_block]);
    if (!block) {
        run.std_err.printf("\n%s\n%d\nerror getting memory for %s\n", source_tag,
                           memory_error_number, shown_name(run.sys, name).c_str());
        end_run(exit_code::output_file);
    }
    if (!file->seek(0)) return;
    constexpr std::uint64_t none = ~std::uint64_t(0);
    std::uint64_t padding_start = none;  // where the current run of padding began
    std::uint64_t offset = 0;
    for (;;) {
        // A log that cannot be read to the end is left as it is.
        const long long got = file->read(block.get(), scan_block);
        if (got < 0) return;
        if (got == 0) break;
        for (long long i = 0; i < got; ++i) {
            const bool padding = block[i] == 0 || block[i] == 26;
            if (!padding)
                padding_start = none;
            else if (padding_start == none)
                padding_start = offset + std::uint64_t(i);
        }
        offset += std::uint64_t(got);
    }
    if (padding_start != none) file->set_end(padding_start);
}

}  // namespace

std::unique_ptr<OutStream> open_accounting_log(Run& run, std::u16string_view name) {
    // Without its directory the log cannot exist, so there is nothing to
    // clean: the open below fails with its own message and the run goes on.
    if (make_log_directory(run, name)) clean_log_end(run, name);
    auto sink = run.sys.open_text(name, platform::OpenMode::append);
    if (!sink) {
        run.std_out.printf("Can't open accounting file %s\n", shown_name(run.sys, name).c_str());
        return nullptr;
    }
    auto log = std::make_unique<OutStream>(std::move(sink));
    log->printf("\n%.40s\n", asterisks);
    run.log_name = name;
    run.notices.forget(OnceNotice::log_write_failed);
    return log;
}

void close_accounting_log(RunStreams& streams) {
    if (!streams.log) return;
    streams.log->close();
    streams.log.reset();
}

void check_log_written(platform::System& sys, RunStreams& streams) {
    if (!streams.log || !streams.log->failed() ||
        !streams.notices.first(OnceNotice::log_write_failed))
        return;
    streams.std_err.printf("\nError writing the accounting log %s\n",
                           shown_name(sys, streams.log_name).c_str());
    end_run(exit_code::write_error);
}

}  // namespace filarix
