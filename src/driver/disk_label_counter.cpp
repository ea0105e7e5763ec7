#include "driver/disk_label_counter.hpp"

#include <string_view>

#include "core/shown_text.hpp"
#include "options/disk_label.hpp"

namespace filarix {

namespace {

// A stored label is read well past the limit, so that its number is seen
// whole even in a longer label that an earlier version stored.
constexpr std::size_t stored_limit = 64;
constexpr const char* first_label = "1000";

std::u16string label_file_path(platform::System& sys) {
    std::u16string path;
    if (const auto cwd = sys.current_directory(); cwd && !cwd->empty()) {
        path = *cwd;
        if (!sys.syntax().is_separator(path.back())) path += sys.syntax().separator;
    }
    return path + u"DISKLABL";
}

std::string read_stored(platform::InputFile& file) {
    char buffer[stored_limit];
    std::size_t used = 0;
    while (used < stored_limit) {
        const long long got = file.read(buffer + used, stored_limit - used);
        if (got <= 0) break;
        used += static_cast<std::size_t>(got);
    }
    return std::string(buffer, used);
}

void cannot_store(platform::System& sys, OutStream& errors, const std::u16string& path) {
    // A counter that silently stays put would hand out the same label twice.
    errors.printf("\nCan't store the next label in %s\n", shown_name(sys, path).c_str());
}

}  // namespace

std::string next_disk_label(platform::System& sys, OutStream& errors) {
    const std::u16string path = label_file_path(sys);
    if (!sys.exists(path)) {
        const std::string label = first_label;
        auto file = sys.open_update(path, true);
        if (!file || !file->write(label.data(), label.size())) cannot_store(sys, errors, path);
        return label;
    }
    auto file = sys.open_update(path, false);
    std::string label;
    if (file) {
        label = following_label(read_stored(*file));
    } else {
        // Read-only media: the label still follows the stored one.
        auto input = sys.open_read(path, true);
        label = following_label(input ? read_stored(*input) : std::string());
    }
    if (label.size() > disk_label_limit) {
        // Cut to fit, it would repeat a label already given out.
        errors.printf("\nThe next label %s is longer than %d characters: %s not changed\n",
                      label.c_str(), static_cast<int>(disk_label_limit),
                      shown_name(sys, path).c_str());
        end_run(exit_code::input_file);
    }
    if (!file) {
        cannot_store(sys, errors, path);
        return label;
    }
    if (!file->seek(0) || !file->write(label.data(), label.size()) || !file->set_end(label.size()))
        cannot_store(sys, errors, path);
    return label;
}

}  // namespace filarix
