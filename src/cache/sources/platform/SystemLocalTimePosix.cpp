#include <ctime>
#include <limits>

#include "cache/sources/SystemLocalTime.h"

namespace sarnika::sources {

std::optional<FileTime> SystemLocalTime::toLocalFileTime(FileTime utc) const {
    const auto seconds = static_cast<std::int64_t>(utc / kFileTimeTicksPerSecond);
    const auto unixSeconds = static_cast<std::time_t>(seconds - kFileTimeUnixEpochSeconds);
    std::tm fields{};
    if (localtime_r(&unixSeconds, &fields) == nullptr) {
        return std::nullopt;
    }
    const std::int64_t offsetTicks = static_cast<std::int64_t>(fields.tm_gmtoff) *
                                     static_cast<std::int64_t>(kFileTimeTicksPerSecond);
    if (offsetTicks < 0 && utc < static_cast<FileTime>(-offsetTicks)) {
        return std::nullopt;
    }
    if (offsetTicks > 0 &&
        utc > std::numeric_limits<FileTime>::max() - static_cast<FileTime>(offsetTicks)) {
        return std::nullopt;
    }
    return static_cast<FileTime>(static_cast<std::int64_t>(utc) + offsetTicks);
}

} // namespace sarnika::sources
