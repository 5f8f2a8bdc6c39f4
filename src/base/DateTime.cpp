#include "base/DateTime.h"

#include <chrono>
#include <limits>

namespace sarnika {
namespace {

namespace chrono = std::chrono;

constexpr std::uint64_t kTicksPerMillisecond = 10'000;
constexpr std::uint64_t kMillisecondsPerDay = 86'400'000;
constexpr std::uint64_t kTicksPerDay = kTicksPerMillisecond * kMillisecondsPerDay;

// Day 0 of the date-time values, and the first day of file times.
constexpr chrono::sys_days kDateTimeOrigin = chrono::year{1899} / chrono::December / 30;
constexpr chrono::sys_days kFileTimeOrigin = chrono::year{1601} / chrono::January / 1;

bool isCalendarDate(int year, int month, int day) {
    // The ranges first: the calendar types keep only the low bits of larger values.
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
           (chrono::year{year} / month / day).ok();
}

} // namespace

std::optional<SystemTime> fileTimeToSystemTime(FileTime time) {
    if (time > static_cast<FileTime>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    const auto days = static_cast<std::int64_t>(time / kTicksPerDay);
    std::uint64_t ms = (time % kTicksPerDay) / kTicksPerMillisecond;
    const chrono::sys_days date = kFileTimeOrigin + chrono::days{days};
    const chrono::year_month_day fields{date};
    SystemTime st;
    st.year = static_cast<int>(fields.year());
    st.month = static_cast<int>(static_cast<unsigned>(fields.month()));
    st.day = static_cast<int>(static_cast<unsigned>(fields.day()));
    st.dayOfWeek = static_cast<int>(chrono::weekday{date}.c_encoding());
    st.hour = static_cast<int>(ms / 3'600'000);
    ms %= 3'600'000;
    st.minute = static_cast<int>(ms / 60'000);
    ms %= 60'000;
    st.second = static_cast<int>(ms / 1000);
    st.milliseconds = static_cast<int>(ms % 1000);
    return st;
}

std::int64_t dayNumber(int year, int month, int day) {
    const chrono::sys_days date = chrono::year{year} / chrono::month{static_cast<unsigned>(month)} /
                                  chrono::day{static_cast<unsigned>(day)};
    return static_cast<std::int64_t>((date - kDateTimeOrigin).count());
}

chrono::year_month_day dateOfDayNumber(std::int64_t dayNumber) {
    return chrono::year_month_day{kDateTimeOrigin + chrono::days{dayNumber}};
}

std::optional<double> systemTimeToDateTime(const SystemTime& time) {
    if (!isCalendarDate(time.year, time.month, time.day) || time.hour < 0 || time.hour > 23 ||
        time.minute < 0 || time.minute > 59 || time.second < 0 || time.second > 59 ||
        time.milliseconds < 0 || time.milliseconds > 999) {
        return std::nullopt;
    }
    const auto days = static_cast<double>(dayNumber(time.year, time.month, time.day));
    const double fraction = (time.hour * 3'600'000.0 + time.minute * 60'000.0 +
                             time.second * 1000.0 + time.milliseconds) /
                            static_cast<double>(kMillisecondsPerDay);
    return days < 0 ? days - fraction : days + fraction;
}

double cacheTimeToDateTime(FileTime utc, const LocalTimePort& localTime) {
    const std::optional<FileTime> local = localTime.toLocalFileTime(utc);
    if (!local) {
        return 0;
    }
    const std::optional<SystemTime> fields = fileTimeToSystemTime(*local);
    if (!fields) {
        return 0;
    }
    return systemTimeToDateTime(*fields).value_or(0);
}

FileTime fileTimeFromUnixSeconds(std::int64_t seconds) {
    if (seconds < -kFileTimeUnixEpochSeconds) {
        return 0;
    }
    const auto since1601 = static_cast<std::uint64_t>(seconds + kFileTimeUnixEpochSeconds);
    if (since1601 > std::numeric_limits<std::uint64_t>::max() / kFileTimeTicksPerSecond) {
        return 0;
    }
    return since1601 * kFileTimeTicksPerSecond;
}

FileTime fileTimeFromWindowsMicros(std::int64_t micros) {
    if (micros <= 0 ||
        static_cast<std::uint64_t>(micros) > std::numeric_limits<std::uint64_t>::max() / 10) {
        return 0;
    }
    return static_cast<FileTime>(micros) * 10;
}

FileTime fileTimeFromUnixMicros(std::int64_t micros) {
    constexpr std::int64_t kEpochMicros = kFileTimeUnixEpochSeconds * 1'000'000;
    if (micros < -kEpochMicros ||
        micros > std::numeric_limits<std::int64_t>::max() - kEpochMicros) {
        return 0;
    }
    return fileTimeFromWindowsMicros(micros + kEpochMicros);
}

} // namespace sarnika
