#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace sarnika {

// A time in the platform's file-time units: 100 ns since 1601-01-01, UTC unless said otherwise.
using FileTime = std::uint64_t;

inline constexpr FileTime kFileTimeTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr std::int64_t kFileTimeUnixEpochSeconds = 11'644'473'600;

// Calendar fields of a time, as the platform's SYSTEMTIME holds them.
struct SystemTime {
    int year = 0;
    int month = 0;
    int dayOfWeek = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

// Converts a UTC file time to local file time with the platform's time-zone rules.
class LocalTimePort {
public:
    virtual ~LocalTimePort() = default;
    // Empty when the platform cannot convert the time.
    virtual std::optional<FileTime> toLocalFileTime(FileTime utc) const = 0;
};

// UTC everywhere: for tests and for readers that want times unshifted.
class UtcLocalTime final : public LocalTimePort {
public:
    std::optional<FileTime> toLocalFileTime(FileTime utc) const override { return utc; }
};

// Calendar fields of a file time; empty for values the platform also rejects (above 2^63 - 1).
std::optional<SystemTime> fileTimeToSystemTime(FileTime time);

// Days from 1899-12-30 in the proleptic Gregorian calendar, for years -32767 to 32767 and
// months 1 to 12; a day past the month's end counts on into the next months.
std::int64_t dayNumber(int year, int month, int day);
// The calendar date of a day number (days from 1899-12-30); the inverse of dayNumber().
std::chrono::year_month_day dateOfDayNumber(std::int64_t dayNumber);

// The date-time value of the calendar fields: days since 1899-12-30 plus the time of day
// (minus it for negative days); empty when the year lies outside 1 to 9999 or a field is invalid.
std::optional<double> systemTimeToDateTime(const SystemTime& time);

// A cache entry's UTC file time as a local date-time value; 0 when any step fails.
double cacheTimeToDateTime(FileTime utc, const LocalTimePort& localTime);

// Unix seconds to a file time; 0 for times before 1601.
FileTime fileTimeFromUnixSeconds(std::int64_t seconds);
// Microseconds since 1601-01-01 (Chromium's clock) to a file time; 0 for negative or overflowing
// values.
FileTime fileTimeFromWindowsMicros(std::int64_t micros);
// Microseconds since 1970-01-01 (Firefox's PRTime) to a file time.
FileTime fileTimeFromUnixMicros(std::int64_t micros);

} // namespace sarnika
