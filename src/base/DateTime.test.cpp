#include "base/DateTime.h"

#include <gtest/gtest.h>

namespace sarnika {
namespace {

constexpr FileTime kTicksPerDay = 864'000'000'000;

FileTime fileTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int ms = 0) {
    const std::int64_t days = dayNumber(year, month, day) - dayNumber(1601, 1, 1);
    return static_cast<FileTime>(days) * kTicksPerDay +
           static_cast<FileTime>(((hour * 60 + minute) * 60 + second) * 1000 + ms) * 10'000;
}

// Shifts every time by a fixed offset, or refuses all conversions.
class ShiftedLocalTime final : public LocalTimePort {
public:
    explicit ShiftedLocalTime(std::int64_t offsetTicks, bool fail = false)
        : m_offset(offsetTicks), m_fail(fail) {}
    std::optional<FileTime> toLocalFileTime(FileTime utc) const override {
        if (m_fail) {
            return std::nullopt;
        }
        return static_cast<FileTime>(static_cast<std::int64_t>(utc) + m_offset);
    }

private:
    std::int64_t m_offset;
    bool m_fail;
};

TEST(DateTime, DayNumbersCountFrom18991230) {
    EXPECT_EQ(dayNumber(1899, 12, 30), 0);
    EXPECT_EQ(dayNumber(1899, 12, 31), 1);
    EXPECT_EQ(dayNumber(1899, 12, 29), -1);
    EXPECT_EQ(dayNumber(1900, 3, 1), 61); // 1900 is not a leap year
    EXPECT_EQ(dayNumber(2000, 1, 1), 36526);
    EXPECT_EQ(dayNumber(1, 1, 1), -693593);
    EXPECT_EQ(dayNumber(9999, 12, 31), 2958465);
}

TEST(DateTime, FractionIsAddedForPositiveDaysAndSubtractedForNegativeOnes) {
    const UtcLocalTime utc;
    EXPECT_DOUBLE_EQ(cacheTimeToDateTime(fileTimeOf(1899, 12, 30, 6), utc), 0.25);
    EXPECT_DOUBLE_EQ(cacheTimeToDateTime(fileTimeOf(1899, 12, 31, 18), utc), 1.75);
    EXPECT_DOUBLE_EQ(cacheTimeToDateTime(fileTimeOf(1899, 12, 29, 6), utc), -1.25);
    EXPECT_DOUBLE_EQ(cacheTimeToDateTime(fileTimeOf(1899, 12, 29), utc), -1.0);
    // Milliseconds count.
    EXPECT_DOUBLE_EQ(cacheTimeToDateTime(fileTimeOf(2000, 1, 1, 0, 0, 0, 500), utc),
                     36526 + 500.0 / 86'400'000);
    // The earliest file time is 1601-01-01, a negative day.
    EXPECT_DOUBLE_EQ(cacheTimeToDateTime(0, utc), static_cast<double>(dayNumber(1601, 1, 1)));
}

TEST(DateTime, LocalTimeShiftsTheDateAcrossMidnight) {
    const ShiftedLocalTime plusTwoHours(2LL * 3600 * 10'000'000);
    EXPECT_DOUBLE_EQ(cacheTimeToDateTime(fileTimeOf(1899, 12, 29, 23), plusTwoHours),
                     0.0 + 1.0 / 24);
}

TEST(DateTime, FailuresGiveZero) {
    const ShiftedLocalTime refusing(0, true);
    EXPECT_EQ(cacheTimeToDateTime(fileTimeOf(2010, 5, 6), refusing), 0.0);
    const UtcLocalTime utc;
    // Values the platform refuses to split into fields.
    EXPECT_EQ(cacheTimeToDateTime(0x8000000000000000ULL, utc), 0.0);
    EXPECT_EQ(cacheTimeToDateTime(0xFFFFFFFFFFFFFFFFULL, utc), 0.0);
    // Year 10000 and later are outside the range of a date-time.
    EXPECT_EQ(cacheTimeToDateTime(fileTimeOf(10000, 1, 1), utc), 0.0);
    EXPECT_NE(cacheTimeToDateTime(fileTimeOf(9999, 12, 31, 23, 59, 59, 999), utc), 0.0);
}

TEST(DateTime, SystemTimeFields) {
    const auto st = fileTimeToSystemTime(fileTimeOf(2024, 2, 29, 13, 14, 15, 167));
    ASSERT_TRUE(st);
    EXPECT_EQ(st->year, 2024);
    EXPECT_EQ(st->month, 2);
    EXPECT_EQ(st->day, 29);
    EXPECT_EQ(st->dayOfWeek, 4); // a Thursday
    EXPECT_EQ(st->hour, 13);
    EXPECT_EQ(st->minute, 14);
    EXPECT_EQ(st->second, 15);
    EXPECT_EQ(st->milliseconds, 167);
    EXPECT_FALSE(systemTimeToDateTime({2023, 2, 0, 29, 0, 0, 0, 0}));
}

TEST(DateTime, ClocksOfTheBrowsersConvertToFileTime) {
    EXPECT_EQ(fileTimeFromUnixSeconds(0), 116444736000000000ULL);
    EXPECT_EQ(fileTimeFromUnixMicros(0), 116444736000000000ULL);
    // 13161017332037692 µs since 1601 is 2018-01-21 14:08:52 UTC.
    const auto st = fileTimeToSystemTime(fileTimeFromWindowsMicros(13161017332037692LL));
    ASSERT_TRUE(st);
    EXPECT_EQ(st->year, 2018);
    EXPECT_EQ(st->day, 21);
    EXPECT_EQ(st->hour, 14);
    EXPECT_EQ(st->second, 52);
    EXPECT_EQ(fileTimeFromWindowsMicros(-5), 0U);
    EXPECT_EQ(fileTimeFromUnixSeconds(-20'000'000'000LL), 0U);
}

} // namespace
} // namespace sarnika
