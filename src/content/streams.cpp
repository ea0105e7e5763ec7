#include "content/streams.hpp"

namespace filarix {

namespace {

// The numbers the messages carry; fixed, so that a note about one stays
// true from one build to the next.
constexpr int privilege_error_number = 401;
constexpr int stream_read_error_number = 402;
constexpr const char* source_tag = "ads_flrx_64";

void ask_for_backup_privileges(Run& run) {
    // Once per run: the privileges stay enabled for the rest of the process.
    if (!run.notices.first(OnceNotice::backup_privileges_asked)) return;
    if (run.sys.enable_backup_privileges()) return;
    // Without them the platform still delivers the streams it can; the
    // examiner learns that some may be missing, and the run goes on.
    if (run.notices.first(OnceNotice::privileges_failed)) {
        run.std_err.printf("\n%d %s Privilege error", privilege_error_number, source_tag);
        run.std_err.put("\nTry using the -S option and rerun program\n\n");
    }
}

}  // namespace

std::uint32_t enumerate_streams(Run& run, std::u16string_view path) {
    run.stream_table.clear();
    if (!run.layout.streams_volume) return 0;
    ask_for_backup_privileges(run);
    platform::StreamListing listing = run.sys.named_streams(path);
    if (listing.status == platform::StreamListing::Status::read_failed &&
        run.notices.first(OnceNotice::stream_read_failed)) {
        run.std_err.printf("\n%d %s Alt Data Read error\n", stream_read_error_number, source_tag);
    }
    run.stream_table = std::move(listing.streams);
    return static_cast<std::uint32_t>(run.stream_table.size());
}

std::u16string shown_stream_name(std::u16string_view table_name) {
    // The stream type follows the last colon; a name of its own may hold
    // colons on a POSIX volume and is kept whole.
    std::u16string shown(table_name);
    const std::size_t type = shown.rfind(u':');
    if (type != std::u16string::npos && type > 0) shown.resize(type);
    if (!shown.empty() && shown.back() == u':') shown.pop_back();
    return shown;
}

}  // namespace filarix
