#pragma once

#include <filesystem>
#include <vector>

#include "base/Result.h"
#include "cache/sources/CacheRecord.h"
#include "cache/sources/webcache/WebCacheRows.h"

// Internet Explorer 10 and 11 (and the first Edge) keep the index of WinINet's cache in an ESE
// database, ".../AppData/Local/Microsoft/Windows/WebCache/WebCacheV01.dat", and the cached
// files in ".../INetCache/IE/<eight characters>/" (Windows 8: ".../Temporary Internet Files/
// Content.IE5/<eight characters>/"), each with a "Low" twin for protected mode.
namespace sarnika::sources {

// Whether `folder` holds a WebCacheV01.dat (or the WebCacheV24.dat of early Windows 8) that
// starts as an ESE database does. Reads a few bytes; built everywhere.
bool looksLikeWebCache(const std::filesystem::path& folder);

#if SARNIKA_WITH_ESEDB
// Reads the WebCache database in `folder`: content, visits and cookies (see webCacheRecords).
// The browser's files are only read: when the database is not cleanly shut down or has its
// logs beside it, a private copy in the temporary folder is read instead, and removed after.
std::vector<CacheRecord> readWebCache(const std::filesystem::path& folder, ReadReport& report);

// The Containers table and the rows with a URL of the containers' tables, as stored: of every
// container, or only of those that give entries. Reads `database` itself, never a copy.
struct WebCacheTables {
    std::vector<WebCacheContainer> containers;
    std::vector<WebCacheRow> rows;
};
Result<WebCacheTables> readWebCacheTables(const std::filesystem::path& database,
                                          bool everyContainer, ReadReport& report);
#endif

} // namespace sarnika::sources
