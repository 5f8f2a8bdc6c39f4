#include "cache/sources/SystemLocalTime.h"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

namespace sarnika::sources {
namespace {

// Sets TZ for the life of the object.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) { // NOLINT(concurrency-mt-unsafe)
            m_old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (m_old.empty()) {
            unsetenv("TZ");
        } else {
            setenv("TZ", m_old.c_str(), 1);
        }
        tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    std::string m_old;
};

TEST(SystemLocalTime, FollowsTheTimeZoneRulesOfTheDate) {
    const SystemLocalTime local;
    constexpr std::int64_t kHour = 3600 * 10'000'000LL;
    {
        ZoneScope zone("UTC0");
        EXPECT_EQ(local.toLocalFileTime(fileTimeFromUnixSeconds(0)), fileTimeFromUnixSeconds(0));
    }
    {
        // Central Europe: one hour ahead in winter, two in summer.
        ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
        const FileTime winter = fileTimeFromUnixSeconds(1'700'000'000); // November 2023
        const FileTime summer = fileTimeFromUnixSeconds(1'690'000'000); // July 2023
        EXPECT_EQ(local.toLocalFileTime(winter), winter + kHour);
        EXPECT_EQ(local.toLocalFileTime(summer), summer + 2 * kHour);
    }
    {
        ZoneScope zone("EST5");
        // The first instants of 1601 have no local time west of Greenwich.
        EXPECT_FALSE(local.toLocalFileTime(0));
        EXPECT_EQ(local.toLocalFileTime(fileTimeFromUnixSeconds(0)),
                  fileTimeFromUnixSeconds(0) - 5 * kHour);
    }
}

} // namespace
} // namespace sarnika::sources
