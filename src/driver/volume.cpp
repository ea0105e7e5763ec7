#include "driver/volume.hpp"

#include <cstdio>

#include "driver/termination.hpp"
#include "record/header_line.hpp"
#include "record/owner.hpp"

namespace {

// On POSIX a volume is found from any path on it; a start path that does
// not exist yet is answered for the directory that would hold it.
std::u16string existing_ancestor(Run& run, std::u16string_view path) {
    std::u16string p(path);
    while (p.size() > 1 && !run.sys.exists(p)) {
        const std::size_t sep = p.find_last_of(run.syntax.separator, p.size() - 2);
        if (sep == std::u16string::npos) break;
        p.resize(sep == 0 ? 1 : sep);
    }
    return p;
}

bool has_drive_letter(const Run& run, std::u16string_view start_path) {
    const std::u16string_view body = run.syntax.without_long_prefix(start_path);
    return run.syntax.drive_letters && body.size() >= 2 && body[1] == u':';
}

}  // namespace

std::u16string volume_root(Run& run, std::u16string_view start_path) {
    if (!run.syntax.drive_letters) return existing_ancestor(run, start_path);
    std::u16string_view body = run.syntax.without_long_prefix(start_path);
    if (!body.empty() && run.syntax.is_separator(body[0])) {
        const std::size_t dollar = body.find(u'$');
        if (dollar == std::u16string_view::npos) return std::u16string(body);
        return std::u16string(body.substr(0, std::min(body.size(), dollar + 2)));
    }
    std::u16string root;
    if (!body.empty()) root.push_back(platform::ascii_upper(body[0]));
    root += u":\\";
    return root;
}

std::string volume_serial_text(Run& run, std::u16string_view root) {
    const auto info = run.sys.volume_info(root);
    if (!info) return "*UNKNOWN*";
    char text[16];
    std::snprintf(text, sizeof text, "%04X-%04X", unsigned(info->serial >> 16),
                  unsigned(info->serial & 0xFFFF));
    return text;
}

int volume_fs_type(Run& run, std::u16string_view path) {
    std::u16string root;
    if (run.syntax.drive_letters) {
        const std::size_t colon = path.find(u':');
        if (colon == std::u16string_view::npos) return 0;
        root = std::u16string(path.substr(0, colon)) + u":\\";
    } else {
        root = existing_ancestor(run, path);
    }
    const auto info = run.sys.volume_info(root);
    if (!info) return 0;
    run.streams_volume = info->named_streams;
    if (info->file_system == u"NTFS") return 2;
    if (info->file_system == u"FAT32") return 4;
    return 1;
}

std::uint64_t drive_free_space(Run& run, std::u16string_view first_start_path) {
    // A UNC path has no drive, and so no free-space figure.
    if (run.syntax.drive_letters && !has_drive_letter(run, first_start_path)) return 0;
    const auto free = run.sys.free_space(volume_root(run, first_start_path));
    if (!free) {
        if (!run.syntax.drive_letters) return 0;
        run.std_err.put("can't get disk free space\n");
        end_run(exit_code::input_file);
    }
    return *free;
}

std::string volume_id_for(Run& run, std::u16string_view start_path) {
    return volume_serial_text(run, volume_root(run, start_path));
}

void set_up_volume_and_layout(Run& run, const std::u16string& first) {
    RunSettings& s = run.s;
    if (s.directories && !s.RECURSE) s.RECURSE = 1;
    if (s.HASH) run.digest_width = 40;

    for (std::size_t k = 0; k < run.sort_keys.size() && run.sort_keys[k] != 999; ++k) {
        const int key = run.sort_keys[k];
        if (key == 'c' || key == 'C') s.CRC = 1;
        if (s.OUTPUT && s.time_type == '0' &&
            (key == 'y' || key == 'Y' || key == 'm' || key == 'M' || key == 'd' || key == 'D')) {
            s.TIME = 1;
            s.time_type = 'w';
        }
    }

    const int w = s.WIDTH;
    const int h = run.digest_width;
    const int lfn_extra = s.LFN ? static_cast<int>(run.lfn_width) - 13 : 0;
    const int owner_extra = s.owner ? 34 : 0;
    run.size_column = w + 1;
    if (s.fixed) {
        if (s.time_type == '0') {
            s.TIME = 1;
            s.time_type = '3';
        }
        run.record_width = w + h + 121 + lfn_extra + owner_extra;
        run.digest_column = w + 35;
        run.month_column = w + h + 36;
    } else {
        int r = w + 30;
        if (s.signature_check) r += 5;
        if (s.CRC || s.HASH) {
            run.digest_column = r;
            r += h + 1;
        }
        if (s.time_type != '0') {
            run.month_column = r;
            r += s.time_type == '3' ? 59 : 23;
        }
        if (s.eight_dot_three) r += 14;
        r += lfn_extra + owner_extra;
        run.record_width = r > 80 ? r + 12 : r;
    }
    run.day_column = run.month_column + 3;
    run.year_column = run.month_column + 6;
    run.hour_column = run.month_column + 11;
    run.minute_column = run.month_column + 14;

    OutStream* const chosen_before = run.output;
    if (s.OUTPUT == 0) {
        run.output = &run.std_err;
    } else if (s.OUTPUT == -1) {
        s.OUTPUT = 0;
        run.output = &run.std_out;
    }
    // ZIP member lines meant for the listing go where the listing goes.
    if (run.ziplog == chosen_before) run.ziplog = run.output;
    if (s.OUTPUT && !s.execute) run.std_out.put("\n\n");
    if (s.label) {
        run.std_out.put("\n");
        run.std_err.printf("disk label: %.12s", run.label_text.c_str());
    }
    run.std_err.put("\n");

    run.volume_id_text =
        (s.label == 1 || s.label == 2) ? run.label_text : volume_id_for(run, first);
    if (s.OUTPUT && !run.output_name.empty())
        run.output_drive = platform::ascii_upper(run.output_name[0]) - u'A';

    const auto info = run.sys.volume_info(volume_root(run, first));
    if (!info) {
        run.std_err.printf("\n%s Line: %d, Error getting volume info.\n", "filarix_64", __LINE__);
    } else {
        run.volume_label = info->label;
        if (info->file_system == u"NTFS" && !setup_userid(run))
            run.std_err.printf("\n%d %s, security setup_userid failed\n", __LINE__, "filarix_64");
    }

    // Named streams exist only on NT-based Windows; elsewhere the volume says.
    if (run.syntax.drive_letters) {
        const auto os = run.sys.get_env(u"OS");
        if (!os || os->find(u"NT") == std::u16string::npos) s.STREAM = 0;
    }
    if (s.OUTPUT) write_header_line(run);
    if (s.NAMEAFTER && run.nameafter_width == -1) run.nameafter_width = 50;
    if (s.SHOWLONG && s.WIDTH == 54) s.VAR = 1;
    run.sequence_counter = run.sequence_start != 0 ? std::uint32_t(run.sequence_start) : 1;
}
