#include "cli/Manifest.h"

#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "base/DateTime.h"
#include "cli/JsonWriter.h"
#include "cli/MovieOutput.h"

namespace sarnika::cli {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;

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
    const std::chrono::year_month_day date = dateOfDayNumber(static_cast<std::int64_t>(whole));
    std::ostringstream text;
    text << std::setfill('0') << std::setw(4) << static_cast<int>(date.year()) << '-'
         << std::setw(2) << static_cast<unsigned>(date.month()) << '-' << std::setw(2)
         << static_cast<unsigned>(date.day()) << 'T' << std::setw(2) << seconds / 3600 << ':'
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
