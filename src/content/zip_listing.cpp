#include "content/zip_listing.hpp"

#include "content/digests.hpp"
#include "content/zip_walk.hpp"

namespace filarix {

namespace {

ZipLineLayout layout_from(const Run& run) {
    const RunSettings& s = run.s;
    ZipLineLayout layout;
    layout.delimiter = s.delimiter;
    layout.comment = s.COMMENT != 0;
    layout.width = s.WIDTH;
    layout.category = s.signature_check != signature_none;
    layout.fixed = s.fixed != 0;
    layout.md5 = s.digests.has(DigestId::md5);
    layout.crc = s.digests.has(DigestId::crc);
    layout.time_type = static_cast<char>(s.time_type);
    layout.seconds = s.seconds != 0;
    layout.reverse = s.REVERSE != 0;
    layout.output = s.output_to_file();
    layout.short_names = s.eight_dot_three;
    layout.long_name = s.LFN;
    layout.extension = s.EXT != 0;
    layout.long_name_width = static_cast<int>(s.lfn_width);
    layout.owner = s.owner != 0;
    return layout;
}

}  // namespace

std::uint32_t list_zip_members(Run& run, std::u16string_view path, std::uint64_t size,
                               const ZipNameColumn& name_column, const ZipTableRow& table_row,
                               const ZipMemberSeen& member_seen) {
    OutStream* log = run.ziplog();
    if (log == nullptr) return 0;
    auto file = open_for_read(run.sys, path);
    if (!file) {
        run.std_out.put(zip_open_failure_message(run.sys.narrow(path)));
        return 0;
    }
    ZipLineLayout layout = layout_from(run);
    const std::string comment = run.sys.narrow(run.s.comment_text);
    layout.comment_text = comment;
    // The archive's path as its own record shows it, without a long-path prefix.
    const std::u16string archive(run.syntax.without_long_prefix(path));

    const ZipWalk walk = walk_zip_members(*file, size, [&](const ZipMember& member) {
        // An archive may hold millions of members: the interrupt is heard
        // between two of them, so that no line is cut.
        if (run.sys.interrupted()) end_run(exit_code::user_aborted);
        const std::u16string name = zip_member_name(member);
        if (table_row) {
            log->put_exact(table_row(archive + u">>" + name, member));
            ++run.counts.zip_members_listed;
            return;
        }
        const std::string column = name_column(archive + u">>" + name);
        // A variable-width record shows the whole name.
        if (run.s.VAR) layout.width = static_cast<int>(column.size());
        log->put(format_zip_member_line(layout, column, run.sys.narrow(name), member));
        ++run.counts.zip_members_listed;
        if (member_seen) member_seen(archive + u">>" + name, member);
    });
    file.reset();
    // A read cut short by the interrupt is the end of the run, not damage.
    if (run.sys.interrupted()) end_run(exit_code::user_aborted);
    if (!walk.message.empty()) {
        run.std_err.put(walk.message);
        run.std_err.flush();
        // Only a person at the console can answer; piped input is never eaten.
        if (run.sys.input_is_terminal()) run.sys.read_key();
    } else if (!walk.whole()) {
        run.std_err.put(zip_damaged_message(run.sys.narrow(archive)));
        run.std_err.flush();
    }
    return static_cast<std::uint32_t>(walk.count);
}

}  // namespace filarix
