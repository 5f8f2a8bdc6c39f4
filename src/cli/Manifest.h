#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/MovieScan.h"

namespace sarnika::cli {

// A date-time value of an entry (days since 1899-12-30, taken as UTC) as ISO 8601 to the
// second, "2024-05-01T12:00:00Z"; empty for an unknown time (0, or 1601-01-01 00:00 where the
// cache had none).
std::optional<std::string> isoUtcOf(double dateTime);

struct SavedFile {
    std::string path;
    std::uint64_t size = 0;
    std::string sha256;
    std::string query; // the URL's query, empty when it has none
};

// One line of the manifest for a saved movie, without the line break.
std::string manifestLine(const MovieRow& row, const SavedFile& saved);

} // namespace sarnika::cli
