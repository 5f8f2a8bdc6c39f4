#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/DateTime.h"
#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// The longest response object taken: they hold a URL and the response headers, a few KiB.
inline constexpr std::uint64_t kSafariResponseMaxBytes = std::uint64_t{1} << 20U;

// What the cached response object (a binary property list: a dictionary whose "Array" holds
// the URL, the response time, the status, the header dictionary, the expected length and the
// MIME type) tells of the response.
struct SafariResponse {
    std::string url;
    FileTime responseTime = 0; // 0 when unknown
    std::optional<std::int64_t> status;
    // In the server's order where the object keeps it, repeated names included.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string mimeType;
};

Result<SafariResponse> parseSafariResponse(std::string_view responseObject);

// The headers of a record: a status line, the response's headers without those that describe
// the bytes as sent (the cache keeps the body decoded), and the stored length.
std::string safariHeaders(const SafariResponse& response, std::uint64_t storedSize);

// "YYYY-MM-DD HH:MM:SS" in UTC, as SQLite's CURRENT_TIMESTAMP writes it; nothing when it is not
// such a time.
std::optional<FileTime> fileTimeFromSqliteTimestamp(std::string_view text);

// Lists the entries of the URL cache in `folder` (the folder holding Cache.db and its
// fsCachedData/ folder): Cache.db is read immutable (or through a private copy when the browser
// left changes in its -wal or -journal). Bodies are read when CacheRecord::body is called: from
// the database row, or from the file in fsCachedData/ the row names.
std::vector<CacheRecord> readSafariCache(const std::filesystem::path& folder, ReadReport& report);

// Whether `folder` holds such a cache: a Cache.db with the URL cache's response table.
bool looksLikeSafariCache(const std::filesystem::path& folder);

} // namespace sarnika::sources
