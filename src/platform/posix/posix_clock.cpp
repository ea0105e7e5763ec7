// The clock, the time zone and calendar conversions (64-bit time_t, so
// file times back to 1601 convert).
#include <ctime>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

CivilTime civil_of(const std::tm& t, int millisecond) {
    CivilTime c;
    c.year = t.tm_year + 1900;
    c.month = t.tm_mon + 1;
    c.day = t.tm_mday;
    c.hour = t.tm_hour;
    c.minute = t.tm_min;
    c.second = t.tm_sec;
    c.millisecond = millisecond;
    c.weekday = t.tm_wday;
    return c;
}

std::optional<CivilTime> convert(FileTicks ticks, bool local) {
    static_assert(sizeof(std::time_t) >= 8, "file times before 1970 need a 64-bit time_t");
    const std::int64_t seconds =
        static_cast<std::int64_t>(ticks / ticks_per_second) - epoch_difference_seconds;
    const int millisecond = static_cast<int>((ticks % ticks_per_second) / 10000);
    // A record converts three times, most often of one same second, and
    // a tree's files share seconds: the last few are kept, per thread.
    struct Remembered {
        std::int64_t seconds = 0;
        bool used = false, local = false, valid = false;
        CivilTime civil;
    };
    thread_local Remembered remembered[8];
    Remembered& slot = remembered[(static_cast<std::uint64_t>(seconds) * 2 + (local ? 1 : 0)) % 8];
    if (!slot.used || slot.seconds != seconds || slot.local != local) {
        const std::time_t t = static_cast<std::time_t>(seconds);
        std::tm out{};
        slot.used = true;
        slot.seconds = seconds;
        slot.local = local;
        slot.valid = (local ? ::localtime_r(&t, &out) : ::gmtime_r(&t, &out)) != nullptr;
        if (slot.valid) slot.civil = civil_of(out, 0);
    }
    if (!slot.valid) return std::nullopt;
    CivilTime civil = slot.civil;
    civil.millisecond = millisecond;
    return civil;
}

}  // namespace

std::int64_t PosixSystem::now_seconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t PosixSystem::now_milliseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

ZoneInfo PosixSystem::zone() {
    ::tzset();
    ZoneInfo z;
    z.standard_name = ::tzname[0] ? ::tzname[0] : "";
    z.daylight = ::daylight != 0;
    z.daylight_name = (z.daylight && ::tzname[1]) ? ::tzname[1] : "";
    z.offset_seconds = ::timezone;
    return z;
}

std::optional<CivilTime> PosixSystem::to_utc(FileTicks ticks) {
    return convert(ticks, false);
}

std::optional<CivilTime> PosixSystem::to_local(FileTicks ticks) {
    return convert(ticks, true);
}

std::optional<CivilTime> PosixSystem::local_calendar(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm out{};
    if (!::localtime_r(&t, &out)) return std::nullopt;
    return civil_of(out, 0);
}

std::optional<std::int64_t> PosixSystem::make_local(const CivilTime& when) {
    std::tm t{};
    t.tm_year = when.year - 1900;
    t.tm_mon = when.month - 1;
    t.tm_mday = when.day;
    t.tm_hour = when.hour;
    t.tm_min = when.minute;
    t.tm_sec = when.second;
    t.tm_isdst = -1;
    t.tm_wday = -1;  // mktime sets it on success only
    const std::time_t result = std::mktime(&t);
    if (t.tm_wday < 0) return std::nullopt;
    return static_cast<std::int64_t>(result);
}

}  // namespace platform::posix
