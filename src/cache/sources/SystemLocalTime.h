#pragma once

#include "base/DateTime.h"

namespace sarnika::sources {

// Local time by the platform's time-zone rules: the C library's (TZ and /etc/localtime), or
// FileTimeToLocalFileTime and FileTimeToSystemTime on Windows.
class SystemLocalTime final : public LocalTimePort {
public:
    std::optional<FileTime> toLocalFileTime(FileTime utc) const override;
};

} // namespace sarnika::sources
