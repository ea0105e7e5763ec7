// The clock, the time zone and calendar conversions.
#include "platform/win32/win32_internal.hpp"
#include "platform/win32/win32_rules.hpp"

namespace platform::win32 {
namespace {

CivilTime civil_of(const SYSTEMTIME& st) {
    CivilTime c;
    c.year = st.wYear;
    c.month = st.wMonth;
    c.day = st.wDay;
    c.hour = st.wHour;
    c.minute = st.wMinute;
    c.second = st.wSecond;
    c.millisecond = st.wMilliseconds;
    c.weekday = st.wDayOfWeek;
    return c;
}

FileTicks ticks_of_seconds(std::int64_t seconds) {
    return static_cast<FileTicks>(seconds + epoch_difference_seconds) *
           static_cast<FileTicks>(ticks_per_second);
}

// The local time of a UTC file time, with the zone's rule for that date
// (summer times stay summer times whatever the season of the run).
std::optional<SYSTEMTIME> local_system_time(FileTicks ticks) {
    const FILETIME ft = filetime_of(ticks);
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&ft, &utc)) return std::nullopt;
    if (::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return local;
    // Outside the range that the rule covers: the zone's present offset.
    FILETIME local_ft;
    if (!::FileTimeToLocalFileTime(&ft, &local_ft) || !::FileTimeToSystemTime(&local_ft, &local))
        return std::nullopt;
    return local;
}

std::string zone_name(const WCHAR* name) {
    return ansi_of(from_w(name));
}

}  // namespace

std::int64_t Win32System::now_seconds() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return static_cast<std::int64_t>(ticks_of(ft) / ticks_per_second) - epoch_difference_seconds;
}

std::int64_t Win32System::now_milliseconds() {
    return static_cast<std::int64_t>(::GetTickCount64());
}

ZoneInfo Win32System::zone() {
    TIME_ZONE_INFORMATION tz{};
    const DWORD kind = ::GetTimeZoneInformation(&tz);
    ZoneInfo z;
    if (kind == TIME_ZONE_ID_INVALID) return z;
    z.standard_name = zone_name(tz.StandardName);
    // Like the runtime's zone set-up: the offset of standard time, positive
    // west of Greenwich, and daylight time when the zone has a rule for it.
    z.offset_seconds = static_cast<long>(tz.Bias) * 60;
    if (tz.StandardDate.wMonth != 0) z.offset_seconds += static_cast<long>(tz.StandardBias) * 60;
    z.daylight = tz.DaylightDate.wMonth != 0 && tz.DaylightBias != 0;
    if (z.daylight) z.daylight_name = zone_name(tz.DaylightName);
    return z;
}

std::optional<CivilTime> Win32System::to_utc(FileTicks ticks) {
    const FILETIME ft = filetime_of(ticks);
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&ft, &st)) return std::nullopt;
    return civil_of(st);
}

std::optional<CivilTime> Win32System::to_local(FileTicks ticks) {
    const auto local = local_system_time(ticks);
    if (!local) return std::nullopt;
    return civil_of(*local);
}

std::optional<CivilTime> Win32System::local_calendar(std::int64_t seconds) {
    if (seconds < -epoch_difference_seconds) return std::nullopt;
    return to_local(ticks_of_seconds(seconds));
}

std::optional<std::int64_t> Win32System::make_local(const CivilTime& when) {
    // Fields out of their ranges carry over, as mktime lets them: the
    // local time is counted in seconds first and split again.
    const std::int64_t local_seconds = days_from_civil(when.year, when.month, when.day) * 86400 +
                                       static_cast<std::int64_t>(when.hour) * 3600 +
                                       static_cast<std::int64_t>(when.minute) * 60 + when.second;
    if (local_seconds < -epoch_difference_seconds) return std::nullopt;
    const FILETIME local_ft = filetime_of(ticks_of_seconds(local_seconds));
    SYSTEMTIME local, utc;
    if (!::FileTimeToSystemTime(&local_ft, &local)) return std::nullopt;
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return std::nullopt;
    FILETIME utc_ft;
    if (!::SystemTimeToFileTime(&utc, &utc_ft)) return std::nullopt;
    return static_cast<std::int64_t>(ticks_of(utc_ft) / ticks_per_second) -
           epoch_difference_seconds;
}

}  // namespace platform::win32
