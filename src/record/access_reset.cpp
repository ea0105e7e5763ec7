#include "record/access_reset.hpp"

namespace filarix {

namespace {

constexpr int attribute_error_number = 421;

// The bits that keep a Windows file from having its times set.
constexpr std::uint32_t guarding_bits = platform::attr::readonly | platform::attr::system;

// restore_times: the three times, with read-only and system lifted for the
// moment when they stand in the way, and put back after.
bool restore_times(platform::System& sys, const std::u16string& path, const TimesRecord& t) {
    if (sys.set_times(path, t.raw_creation, t.raw_access, t.raw_write)) return true;
    const auto current = sys.get_attributes(path);
    if (!current || (*current & guarding_bits) == 0) return false;
    if (!sys.set_attributes(path, *current & ~guarding_bits)) return false;
    const bool ok = sys.set_times(path, t.raw_creation, t.raw_access, t.raw_write);
    // A file that was read-only stays so even when its times could not be set.
    const bool back = sys.set_attributes(path, *current);
    return ok && back;
}

// Every failing file is counted; only the first is named, so a read-only
// medium does not bury the listing's messages.
bool first_failure(RunStreams& streams, Counters& counts) {
    ++counts.reset_failures;
    return streams.notices.first(OnceNotice::entry_reset_failed);
}

}  // namespace

void restore_entry_times(platform::System& sys, RunStreams& streams, Counters& counts,
                         const CurrentEntry& entry) {
    const std::u16string& path = entry.pg_complete_path;
    const std::uint32_t found = entry.data.attributes;
    // A link's contents are its target's, whose own entry puts its times
    // back; whatever were set through the link's path would land on the
    // target.
    if (found & platform::attr::reparse_point) return;
    const auto now = sys.get_attributes(path);
    bool attributes_back = true;
    if (!now || *now != found) attributes_back = sys.set_attributes(path, found);

    bool times_back = true;
    platform::FileTicks creation = 0, access = 0, write = 0;
    // Only an access time that moved, the one mark a read leaves, calls
    // for the times to be put back: writing them otherwise would change the
    // status-change time for nothing, and a write time that moved was moved
    // by a write, not by the reading.
    if (!sys.get_times(path, creation, access, write) || access != entry.times.raw_access)
        times_back = restore_times(sys, path, entry.times);

    if ((attributes_back && times_back) || !first_failure(streams, counts)) return;
    const std::string name = sys.narrow(sys.syntax().without_long_prefix(path));
    if (!attributes_back)
        streams.std_err.printf("\n%d: Couldn't reset attributes of %s\n", attribute_error_number,
                               name.c_str());
    if (!times_back) streams.std_err.printf("\nCan't reset filetime for %s\n", name.c_str());
}

}  // namespace filarix
