#pragma once

#include "cache/DateTime.h"

namespace sarnika::sources {

// Local time by the C library's time-zone rules (TZ and /etc/localtime).
class SystemLocalTime final : public LocalTimePort {
public:
    std::optional<FileTime> toLocalFileTime(FileTime utc) const override;
};

} // namespace sarnika::sources
