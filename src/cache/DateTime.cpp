#include "cache/DateTime.h"

#include <limits>

namespace sarnika {
namespace {

constexpr std::uint64_t kTicksPerMillisecond = 10'000;
constexpr std::uint64_t kMillisecondsPerDay = 86'400'000;
constexpr std::uint64_t kTicksPerDay = kTicksPerMillisecond * kMillisecondsPerDay;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0));
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

const std::int64_t kDays1601 = daysFromCivil(1601, 1, 1);
const std::int64_t kDays1899 = daysFromCivil(1899, 12, 30);

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

} // namespace

std::optional<SystemTime> fileTimeToSystemTime(FileTime time) {
    if (time > static_cast<FileTime>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    const auto days = static_cast<std::int64_t>(time / kTicksPerDay);
    std::uint64_t ms = (time % kTicksPerDay) / kTicksPerMillisecond;
    SystemTime st;
    civilFromDays(kDays1601 + days, st.year, st.month, st.day);
    // 1601-01-01 was a Monday.
    st.dayOfWeek = static_cast<int>((days + 1) % 7);
    st.hour = static_cast<int>(ms / 3'600'000);
    ms %= 3'600'000;
    st.minute = static_cast<int>(ms / 60'000);
    ms %= 60'000;
    st.second = static_cast<int>(ms / 1000);
    st.milliseconds = static_cast<int>(ms % 1000);
    return st;
}

std::int64_t dayNumber(int year, int month, int day) {
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
           kDays1899;
}

std::optional<double> systemTimeToDateTime(const SystemTime& time) {
    if (time.year < 1 || time.year > 9999 || time.month < 1 || time.month > 12 || time.day < 1 ||
        time.day > daysInMonth(time.year, time.month) || time.hour < 0 || time.hour > 23 ||
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
