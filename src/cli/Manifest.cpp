#include "cli/Manifest.h"

#include <cmath>
#include <iomanip>
#include <sstream>

#include "cache/DateTime.h"
#include "cli/JsonWriter.h"

namespace sarnika::cli {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
// Days from 1899-12-30 to 1970-01-01.
constexpr std::int64_t kUnixEpochDay = 25'569;

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// The proleptic Gregorian date of a day counted from 1970-01-01.
CivilDate civilFromDays(std::int64_t days) {
    days += 719'468;
    const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    return {year, month, day};
}

} // namespace

std::optional<std::string> isoUtcOf(double dateTime) {
    // A file time of 0 arrives as the first instant of 1601; date-time values stop at 9999.
    static const auto kFileTimeOrigin = static_cast<double>(dayNumber(1601, 1, 1));
    if (dateTime == 0 || dateTime == kFileTimeOrigin || !std::isfinite(dateTime) ||
        std::fabs(dateTime) > 3'000'000) {
        return std::nullopt;
    }
    // The whole part counts days, the fraction is the time of day, also for negative values.
    double whole = std::trunc(dateTime);
    std::int64_t seconds = std::llround(std::fabs(dateTime - whole) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) {
        whole += 1;
        seconds -= kSecondsPerDay;
    }
    const CivilDate date = civilFromDays(static_cast<std::int64_t>(whole) - kUnixEpochDay);
    std::ostringstream text;
    text << std::setfill('0') << std::setw(4) << date.year << '-' << std::setw(2) << date.month
         << '-' << std::setw(2) << date.day << 'T' << std::setw(2) << seconds / 3600 << ':'
         << std::setw(2) << seconds / 60 % 60 << ':' << std::setw(2) << seconds % 60 << 'Z';
    return text.str();
}

std::string manifestLine(const MovieRow& row, const SavedFile& saved) {
    JsonObject line;
    line.add("url", row.url)
        .add("saved", saved.path)
        .add("size", static_cast<std::int64_t>(saved.size))
        .add("sha256", saved.sha256)
        .addOrNull("query",
                   saved.query.empty() ? std::nullopt : std::optional<std::string>(saved.query))
        .addRaw("source", jsonOf(row.source));
    const TEntryInfo* entry = row.entry;
    line.addOrNull("lastModified", entry ? isoUtcOf(entry->LastModifiedTime) : std::nullopt)
        .addOrNull("lastAccess", entry ? isoUtcOf(entry->LastAccessTime) : std::nullopt)
        .addOrNull("expires", entry ? isoUtcOf(entry->ExpireTime) : std::nullopt);
    return line.text();
}

} // namespace sarnika::cli
