#include "driver/volume.hpp"

#include <cstddef>
#include <cstdio>
#include <vector>

#include "catalogue/sort.hpp"
#include "core/columns.hpp"
#include "core/shown_text.hpp"
#include "driver/termination.hpp"
#include "record/header_line.hpp"
#include "record/owner.hpp"
#include "record/table_row.hpp"

namespace filarix {

namespace {

// The numbers the error messages carry; fixed, so that a note about one
// stays true from one build to the next.
constexpr int volume_error_number = 115;
constexpr int security_error_number = 119;

// On POSIX a volume is found from any path on it; a start path that does
// not exist yet is answered for the directory that would hold it. Each
// shorter prefix of an existing one exists too, so the longest existing
// prefix is found by halving: a path of many thousand components costs a
// few dozen queries, not one per component.
std::u16string existing_ancestor(platform::System& sys, std::u16string_view path) {
    if (path.size() <= 1 || sys.exists(path)) return std::u16string(path);
    std::vector<std::size_t> cuts;  // the prefix lengths to try, shortest first
    for (std::size_t i = 0; i + 1 < path.size(); ++i)
        if (path[i] == sys.syntax().separator) cuts.push_back(i == 0 ? 1 : i);
    if (cuts.empty()) return std::u16string(path);
    // cuts[found] exists (or found is -1), cuts[missing] does not.
    std::ptrdiff_t found = -1;
    auto missing = static_cast<std::ptrdiff_t>(cuts.size());
    while (missing - found > 1) {
        const std::ptrdiff_t mid = found + (missing - found) / 2;
        if (sys.exists(path.substr(0, cuts[static_cast<std::size_t>(mid)])))
            found = mid;
        else
            missing = mid;
    }
    return std::u16string(path.substr(0, cuts[static_cast<std::size_t>(found < 0 ? 0 : found)]));
}

bool has_drive_letter(const platform::PathSyntax& syntax, std::u16string_view start_path) {
    const std::u16string_view body = syntax.without_long_prefix(start_path);
    return syntax.drive_letters && body.size() >= 2 && body[1] == u':';
}

}  // namespace

std::u16string volume_root(platform::System& sys, std::u16string_view start_path) {
    const platform::PathSyntax& syntax = sys.syntax();

    if (!syntax.drive_letters) return existing_ancestor(sys, start_path);
    std::u16string_view body = syntax.without_long_prefix(start_path);
    if (!body.empty() && syntax.is_separator(body[0])) {
        const std::size_t dollar = body.find(u'$');
        if (dollar == std::u16string_view::npos) return std::u16string(body);
        return std::u16string(body.substr(0, std::min(body.size(), dollar + 2)));
    }
    std::u16string root;
    if (!body.empty()) root.push_back(platform::ascii_upper(body[0]));
    root += u":\\";
    return root;
}

std::string volume_serial_text(platform::System& sys, std::u16string_view root) {
    const auto info = sys.volume_info(root);
    if (!info) return "*UNKNOWN*";
    char text[16];
    std::snprintf(text, sizeof text, "%04X-%04X", unsigned(info->serial >> 16),
                  unsigned(info->serial & 0xFFFF));
    return text;
}

bool volume_has_streams(platform::System& sys, std::u16string_view path) {
    std::u16string root;
    if (sys.syntax().drive_letters) {
        const std::size_t colon = path.find(u':');
        if (colon == std::u16string_view::npos) return false;
        root = std::u16string(path.substr(0, colon)) + u":\\";
    } else {
        root = existing_ancestor(sys, path);
    }
    const auto info = sys.volume_info(root);
    return info && info->named_streams;
}

std::uint64_t drive_free_space(platform::System& sys, OutStream& errors,
                               std::u16string_view first_start_path) {
    const platform::PathSyntax& syntax = sys.syntax();

    // A UNC path has no drive, and so no free-space figure.
    if (syntax.drive_letters && !has_drive_letter(syntax, first_start_path)) return 0;
    const auto free = sys.free_space(volume_root(sys, first_start_path));
    if (!free) {
        if (!syntax.drive_letters) return 0;
        errors.put("can't get disk free space\n");
        end_run(exit_code::input_file);
    }
    return *free;
}

std::string volume_id_for(platform::System& sys, std::u16string_view start_path) {
    return volume_serial_text(sys, volume_root(sys, start_path));
}

void set_up_volume_and_layout(Run& run, const std::u16string& first) {
    const RunSettings& s = run.s;
    run.layout.columns = place_columns(run);
    run.layout.record_columns.emplace(s);
    if (s.table_format) run.layout.table_fields = table_fields(s);
    if (s.database_kind != DatabaseKind::none) {
        RunSettings rows = s;
        rows.table_format = table_jsonl;
        run.layout.database_columns.emplace(rows);
    }
    run.layout.record_width = record_length(run.layout.columns);
    // A record wider than the console takes two rows of it.
    run.layout.page_length = run.layout.record_width <= 84 ? 24 : 12;

    switch (s.OUTPUT) {
        case ListingOutput::console:
            run.listing_target = ListingTarget::standard_error;
            break;
        case ListingOutput::standard_output:
            run.listing_target = ListingTarget::standard_output;
            break;
        case ListingOutput::file:
            break;
    }
    if (s.output_to_file() && !s.execute) run.std_out.put("\n\n");
    if (s.label) {
        run.std_out.put("\n");
        run.std_err.printf("disk label: %.12s", run.s.label_text.c_str());
    }
    run.std_err.put("\n");

    run.layout.volume_id_text = s.label ? run.s.label_text : volume_id_for(run.sys, first);

    const auto info = run.sys.volume_info(volume_root(run.sys, first));
    if (!info) {
        run.std_err.printf("\n%s Line: %d, Error getting volume info.\n", "filarix_64",
                           volume_error_number);
    } else {
        run.layout.volume_label = info->label;
        mask_controls(run.layout.volume_label);
        if (info->file_system == u"NTFS" && !setup_userid(run.sys))
            run.std_err.printf("\n%d %s, security setup_userid failed\n", security_error_number,
                               "filarix_64");
    }

    // A CSV listing names its fields wherever it goes, once (a file appended
    // to holds its header row already); a fixed one titles its columns only
    // in a file.
    if (s.table_format) {
        if (!s.APPEND || !run.output_file || count_line_ends(run, s.output_name) == 0)
            write_table_header(run, run.output());
    } else if (s.output_to_file() && !s.NUL) {
        write_header_line(run);
    }
    // The records begin here; the sort leaves every line before them first.
    if (run.output_file)
        run.listing_head_lines = run.listing_prior_lines + run.output_file->line_ends();
    // A start value given, 0 included, is where the count starts.
    run.counts.sequence_counter = run.s.SEQUENCE ? std::uint64_t(run.s.sequence_start) : 1;
}

}  // namespace filarix
